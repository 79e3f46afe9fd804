# The README's Python example runs as written, in the build folder; so does the plotting
# example of docs/python.md where matplotlib is present.
import re
import shutil
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


def test_doses_example_runs_as_written(tmp_path):
    """The commands of the README's worked dose example, run from a source folder whose build
    folder holds a copy of the build's sample, print the lines the README shows; its Python
    runs too."""
    if not (BUILD / "sample/DATA/KVR13INH.DRT").exists():
        pytest.skip("the build has not written its sample folder")
    section = (SOURCE / "README.md").read_text().split("### A worked example\n", 1)[1]
    commands, shown = re.findall(r"\n\n((?:    .*\n)+)", section)[:2]
    (tmp_path / "build").mkdir()
    for name in ("bin", "python"):
        (tmp_path / "build" / name).symlink_to(BUILD / name)
    shutil.copytree(BUILD / "sample", tmp_path / "build/sample",
                    ignore=shutil.ignore_patterns("OUTPUT"))
    (tmp_path / "docs").symlink_to(SOURCE / "docs")
    script = "set -e\n" + "".join(line[4:] + "\n" for line in commands.splitlines())
    result = subprocess.run(["bash", "-c", script], cwd=tmp_path, capture_output=True, text=True,
                            timeout=120)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines()[-3:] == [line[4:] for line in shown.splitlines()]
    code = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    result = subprocess.run([sys.executable, "-c", code], cwd=tmp_path, capture_output=True,
                            text=True, timeout=120,
                            env={"PATH": "/usr/bin:/bin", "PYTHONPATH": "build/python"})
    assert result.returncode == 0, result.stderr
    assert "effective" in result.stdout and "Remainder 0.05 of 9 regions (split)" in result.stdout
