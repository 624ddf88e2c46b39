// The page twincam-serve shows at /: every camera live side by side with its
// figures, updated every second from /stats. Self-contained: no external
// resources, no build step.
#ifndef TWINCAM_TOOLS_SERVE_PAGE_H
#define TWINCAM_TOOLS_SERVE_PAGE_H

namespace twincam::tools {

inline constexpr const char *kServePage = R"html(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>twincam</title>
<style>
  body { margin: 0; padding: 16px; background: #1b1d21; color: #e6e6e6; font: 14px/1.4 system-ui, sans-serif; }
  h1 { font-size: 18px; margin: 0 0 12px; font-weight: 600; }
  #cameras { display: flex; flex-wrap: wrap; gap: 16px; }
  .camera { background: #262a30; border-radius: 6px; padding: 10px; flex: 1 1 480px; max-width: 960px; }
  .camera h2 { font-size: 15px; margin: 0 0 8px; }
  .camera img { width: 100%; display: block; background: #000; aspect-ratio: 16 / 9; object-fit: contain; }
  .figures { display: grid; grid-template-columns: repeat(5, 1fr); gap: 4px; margin-top: 8px; }
  .figures div { background: #1f2227; padding: 4px 6px; border-radius: 4px; }
  .figures span { display: block; color: #9aa3ad; font-size: 12px; }
  .figures b { font-variant-numeric: tabular-nums; }
  .error { color: #ff7b72; margin-top: 8px; }
</style>
</head>
<body>
<h1>twincam</h1>
<div id="cameras">loading&hellip;</div>
<script>
"use strict";
const figures = [["frames_read", "frames read"], ["fps", "fps"], ["missed", "missed"],
                 ["encode_ms", "encode ms"], ["clients", "clients"]];
let built = false;

function build(cameras) {
  const root = document.getElementById("cameras");
  root.textContent = "";
  for (const c of cameras) {
    const box = document.createElement("div");
    box.className = "camera";
    box.id = "camera-" + c.id;
    const title = document.createElement("h2");
    title.textContent = "Camera " + c.id;
    box.appendChild(title);
    if (c.open) {
      const img = document.createElement("img");
      img.src = "/stream/" + c.id;
      img.alt = "camera " + c.id + " live";
      box.appendChild(img);
    }
    const grid = document.createElement("div");
    grid.className = "figures";
    for (const [key, label] of figures) {
      const cell = document.createElement("div");
      cell.innerHTML = "<span>" + label + "</span><b id='c" + c.id + "-" + key + "'>&ndash;</b>";
      grid.appendChild(cell);
    }
    box.appendChild(grid);
    const error = document.createElement("div");
    error.className = "error";
    error.id = "c" + c.id + "-error";
    box.appendChild(error);
    root.appendChild(box);
  }
  built = true;
}

async function update() {
  try {
    const stats = await (await fetch("/stats", {cache: "no-store"})).json();
    if (!built) build(stats.cameras);
    for (const c of stats.cameras) {
      for (const [key] of figures) {
        const cell = document.getElementById("c" + c.id + "-" + key);
        if (cell) cell.textContent = typeof c[key] === "number" && !Number.isInteger(c[key]) ? c[key].toFixed(1) : c[key];
      }
      const error = document.getElementById("c" + c.id + "-error");
      if (error) error.textContent = c.error || "";
    }
  } catch (e) {
    document.title = "twincam (not reachable)";
  }
}
update();
setInterval(update, 1000);
</script>
</body>
</html>
)html";

}  // namespace twincam::tools

#endif  // TWINCAM_TOOLS_SERVE_PAGE_H
