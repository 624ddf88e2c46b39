"""The package's types: the stub matches the compiled module, the documented
examples pass mypy --strict, and a planted type error does not."""
import os
import re
import subprocess
import sys

import pytest

ROOT = os.path.join(os.path.dirname(__file__), "..")


def mypy(*args):
    return subprocess.run([sys.executable, "-m", *args], capture_output=True, text=True)


def examples():
    for page in ("README.md", "docs/python.md"):
        text = open(os.path.join(ROOT, page)).read()
        yield from re.findall(r"```python\n(.*?)```", text, re.S)


def test_stub_matches_the_module():
    result = mypy("mypy.stubtest", "twincam", "--allowlist", os.path.join(ROOT, "python/stubtest-allowlist.txt"))
    assert result.returncode == 0, result.stdout + result.stderr


@pytest.mark.parametrize("planted", [False, True])
def test_examples_pass_strict_and_a_planted_error_fails(tmp_path, planted):
    code = "\n".join(examples())
    assert "twincam.Pair" in code
    if planted:
        code += "\nskew: str = twincam.Camera(0).read().timestamp_ns\n"
    (tmp_path / "example.py").write_text(code)
    result = mypy("mypy", "--strict", "--no-incremental", str(tmp_path / "example.py"))
    assert (result.returncode != 0) == planted, result.stdout
