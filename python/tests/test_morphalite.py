"""The Python package against the command line and tshark.

Run by ./check after `pip install` of the checkout; MORPHALITE_BINARY names
the command line to compare with (default: build/morphalite).
"""
import json
import os
import shutil
import struct
import subprocess
from pathlib import Path

import pytest

os.environ["TZ"] = "UTC"  # before the library reads the machine's zone
import morphalite  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
SAMPLE = ROOT / "samples" / "sample.pcap"
BINARY = Path(os.environ.get("MORPHALITE_BINARY", ROOT / "build" / "morphalite"))
needs_binary = pytest.mark.skipif(not BINARY.exists(), reason=f"no {BINARY}")
needs_tshark = pytest.mark.skipif(not shutil.which("tshark"), reason="no tshark")


def cli(*args):
    done = subprocess.run([str(BINARY), *map(str, args)], capture_output=True, text=True)
    return done.returncode, done.stdout


def read_pcap(path):
    """(time in ns, wire length, bytes) of each record of a nanosecond libpcap file."""
    data = Path(path).read_bytes()
    assert data[:4] == bytes.fromhex("4d3cb2a1"), "expected a little-endian nanosecond file"
    records, at = [], 24
    while at < len(data):
        seconds, nanos, stored, wire = struct.unpack_from("<IIII", data, at)
        records.append((seconds * 10**9 + nanos, wire, data[at + 16:at + 16 + stored]))
        at += 16 + stored
    return records


@pytest.fixture(scope="module")
def sniffer(tmp_path_factory):
    """A Sniffer DOS trace of the sample's frames, written by the library."""
    path = tmp_path_factory.mktemp("sniffer") / "sample.enc"
    report = morphalite.convert(SAMPLE, "SN", path)
    assert report["framesWritten"] == 22
    return path


def test_formats_lists_every_format_of_the_command_line():
    listed = morphalite.formats()
    names = {f["name"] for f in listed}
    assert {"Sniffer DOS (NAI)", "pcapng", "tcpdump/libpcap", "NetScout (NetScout Systems)"} <= names
    assert all(f["read"] or f["write"] for f in listed)
    assert next(f for f in listed if f["code"] == "TD")["names"] == ["pcap", "libpcap", "tcpdump"]
    if BINARY.exists():
        status, table = cli("--formats")
        rows = [line.split(" | ")[0].lstrip("| ") for line in table.splitlines()[2:]]
        assert [f["name"] for f in listed] == rows


def test_identify_names_a_sniffer_dos_file(sniffer):
    facts = morphalite.identify(sniffer)
    assert facts["accepted"] and facts["analyzer"].startswith("Sniffer DOS")
    assert facts["interface"] == "Ethernet"
    if BINARY.exists():
        assert cli("identify", "--json", sniffer)[1] == json.dumps(facts) + "\n"


@pytest.mark.parametrize("name, reason", [("missing.pcap", "No such file or directory"),
                                          ("folder", "Is a directory")])
def test_identify_refusals_raise_with_the_systems_reason(tmp_path, name, reason):
    (tmp_path / "folder").mkdir()
    with pytest.raises(morphalite.Error) as refused:
        morphalite.identify(tmp_path / name)
    assert refused.value.status == 2
    assert refused.value.message.startswith("Open Trace File: ")
    assert refused.value.detail.endswith(reason)
    assert refused.value.report["accepted"] is False


@needs_tshark
def test_frames_are_those_tshark_reads(sniffer, tmp_path):
    written = tmp_path / "tshark.pcap"
    subprocess.run(["tshark", "-r", sniffer, "-F", "nsecpcap", "-w", written], check=True)
    theirs = read_pcap(written)
    ours = list(morphalite.frames(sniffer))
    assert len(ours) == len(theirs) == 22
    for frame, (time_ns, wire, data) in zip(ours, theirs):
        assert abs(frame.time_ns - time_ns) <= 1000
        assert (frame.wire_length, frame.data) == (wire, data)
        assert (frame.link_type, frame.interface) == (1, 0)


def test_frames_in_batches_are_the_same_frames(sniffer):
    def fields(f):
        return f.time_ns, f.wire_length, f.data, f.link_type, f.interface, f.flags

    one_by_one = [fields(f) for f in morphalite.frames(sniffer)]
    for size in (1, 5, 22, 1000):
        batches = list(morphalite.frames(sniffer, batch_size=size))
        assert all(0 < len(b) <= size for b in batches)
        assert [fields(f) for b in batches for f in b] == one_by_one


def test_frames_of_a_cut_file_end_in_an_error_after_the_frames_before(tmp_path):
    cut = tmp_path / "cut.pcap"
    cut.write_bytes(SAMPLE.read_bytes()[:-10])
    seen = []
    with pytest.raises(morphalite.Error) as failed:
        for frame in morphalite.frames(cut):
            seen.append(frame)
    assert failed.value.status == 3
    assert len(seen) == 21 and failed.value.detail
    with pytest.raises(morphalite.Error) as refused:
        next(morphalite.frames(tmp_path / "none.pcap"))
    assert refused.value.status == 2


def test_a_reader_left_early_stops_its_thread():
    for _ in range(50):
        frames = morphalite.frames(SAMPLE, batch_size=1)
        next(frames)
        del frames  # the generator closes, the reader stops and joins


@needs_tshark
def test_convert_writes_a_file_tshark_reads_whole(tmp_path):
    target = tmp_path / "out.pcapng"
    report = morphalite.convert(SAMPLE, "pcapng", target)
    assert report["framesWritten"] == 22 and report["exitStatus"] == 0
    listed = subprocess.run(["tshark", "-r", target], capture_output=True, text=True, check=True)
    assert len(listed.stdout.splitlines()) == 22


@needs_binary
@pytest.mark.parametrize("options, arguments", [
    ({}, []),
    ({"range": (3, 7)}, ["--range", "3-7"]),
    ({"slice": 64, "pcap_order": "little"}, ["--slice", "64", "--pcap-order", "little"]),
    ({"to_wireless": True, "salvage": False}, ["--to-wireless"]),
])
def test_convert_reports_what_convert_json_prints(tmp_path, options, arguments):
    ours = morphalite.convert(SAMPLE, "TD", tmp_path / "ours.pcap", **options)
    status, line = cli("convert", SAMPLE, "--to", "TD", "-o", tmp_path / "theirs.pcap", "--json",
                       *arguments)
    theirs = json.loads(line)
    assert status == 0
    assert ours.pop("target").endswith("ours.pcap") and theirs.pop("target").endswith("theirs.pcap")
    assert ours == theirs
    assert (tmp_path / "ours.pcap").read_bytes() == (tmp_path / "theirs.pcap").read_bytes()


@pytest.mark.parametrize("call, status, words", [
    (lambda d: morphalite.convert(SAMPLE, "XX", d / "o"), 1, "Bad destination analyzer type"),
    (lambda d: morphalite.convert(SAMPLE, "TD", d / "o", slice=10), 1, "slice length"),
    (lambda d: morphalite.convert(SAMPLE, "TD", d / "o", bogus=1), 1, "unknown option --bogus"),
    (lambda d: morphalite.convert(SAMPLE, "TD", d / "o", jobs=2), 1, "not an option of convert"),
    (lambda d: morphalite.convert(SAMPLE, "TD", d / "o", to_ethernet=True, to_wireless=True), 1,
     "exclude each other"),
    (lambda d: morphalite.convert(d / "none.pcap", "TD", d / "o"), 2, "Unable to open"),
    (lambda d: morphalite.convert(SAMPLE, "TD", d / "old", no_clobber=True), 4, ""),
    (lambda d: morphalite.convert(SAMPLE, "TD", d / "o", range="30-40"), 5, "no frames"),
])
def test_convert_failures_raise_with_the_exit_status(tmp_path, call, status, words):
    (tmp_path / "old").write_bytes(b"kept")
    with pytest.raises(morphalite.Error) as failed:
        call(tmp_path)
    assert failed.value.status == status
    assert words in str(failed.value)
    assert (tmp_path / "old").read_bytes() == b"kept"
    assert not (tmp_path / "o").exists()
    if status > 1:
        assert failed.value.report["exitStatus"] == status


def test_convert_of_a_damaged_source_keeps_the_frames_and_the_reason(tmp_path):
    cut = tmp_path / "cut.pcap"
    cut.write_bytes(SAMPLE.read_bytes()[:-10])
    with pytest.raises(morphalite.Error) as failed:
        morphalite.convert(cut, "pcapng", tmp_path / "out.pcapng")
    assert failed.value.status == 3
    assert failed.value.report["framesWritten"] == 21
    assert "frame 22" in failed.value.detail or "record 22" in failed.value.detail
