"""examples/dask_convert.py on a local cluster of two workers."""
import json
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import morphalite

pytest.importorskip("dask.distributed")
ROOT = Path(__file__).resolve().parents[2]
SAMPLE = ROOT / "samples" / "sample.pcap"


@pytest.mark.skipif(not shutil.which("tshark"), reason="no tshark")
def test_six_files_of_a_folder_tree_on_two_workers(tmp_path):
    sources = tmp_path / "src"
    codes = {"a.dmp": "TD", "b.enc": "SN", "c.pcapng": "PN", "deep/d.cap": "N2",
             "deep/e.cap": "XR", "deep/er/f.snoop": "SO"}
    for name, code in codes.items():
        (sources / name).parent.mkdir(parents=True, exist_ok=True)
        morphalite.convert(SAMPLE, code, sources / name)
    (sources / "deep" / "junk.txt").write_text("not a trace\n")

    done = subprocess.run(
        [sys.executable, ROOT / "examples" / "dask_convert.py", sources, tmp_path / "out",
         "--to", "pcapng", "--workers", "2"],
        capture_output=True, text=True, env=dict(os.environ, TZ="UTC"), timeout=300)
    lines = [json.loads(line) for line in done.stdout.splitlines()]
    assert done.returncode == 2, done.stderr  # the junk file is refused
    *files, summary = lines
    assert summary["files"] == 7 and summary["converted"] == 6
    assert summary["failed"] == [str(sources / "deep" / "junk.txt")]
    assert summary["framesWritten"] == 6 * 22
    written = sorted(r["target"] for r in files if r["exitStatus"] == 0)
    assert [os.path.relpath(t, tmp_path / "out") for t in written] == [
        "a.pcapng", "b.pcapng", "c.pcapng", "deep/d.pcapng", "deep/e.pcapng", "deep/er/f.pcapng"]
    for target in written:
        listed = subprocess.run(["tshark", "-r", target], capture_output=True, text=True,
                                check=True)
        assert len(listed.stdout.splitlines()) == 22, target
