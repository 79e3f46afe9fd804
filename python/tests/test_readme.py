# The README's Python example runs as written, in the build folder; so does the plotting
# example of docs/python.md where matplotlib is present.
import re
import subprocess
import sys

import pytest

from conftest import BUILD, SOURCE


def python_block(path):
    return re.search(r"```python\n(.*?)```", path.read_text(), re.S).group(1)


def test_readme_example_runs_in_the_build_folder():
    if not (BUILD / "sample/DATA/KVR13INH.DRT").exists():
        pytest.skip("the build has not written its sample folder")
    section = (SOURCE / "README.md").read_text().split("## Python\n", 1)[1]
    code = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    result = subprocess.run([sys.executable, "-c", code], cwd=BUILD, capture_output=True,
                            text=True, timeout=120,
                            env={"PATH": "/usr/bin:/bin", "PYTHONPATH": str(BUILD / "python")})
    assert result.returncode == 0, result.stderr
    assert "Lung" in result.stdout


def test_docs_plot_example_draws_a_picture(tmp_path):
    pytest.importorskip("matplotlib")
    if not (BUILD / "sample/DATA/KVR13ING.DRT").exists():
        pytest.skip("the build has not written its sample folder")
    script = tmp_path / "plot_record.py"
    script.write_text(python_block(SOURCE / "docs/python.md"))
    result = subprocess.run([sys.executable, script, BUILD / "sample", tmp_path / "record.png"],
                            capture_output=True, text=True, timeout=120,
                            env={"MPLBACKEND": "Agg", "PATH": "/usr/bin:/bin",
                                 "PYTHONPATH": str(BUILD / "python")})
    assert result.returncode == 0, result.stderr
    assert (tmp_path / "record.png").stat().st_size > 10000
