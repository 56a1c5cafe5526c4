"""Network-analyzer trace files from Python: identify, read frames, convert.

>>> import morphalite
>>> morphalite.identify("trace.enc")["analyzer"]
'Sniffer DOS (NAI)'
>>> for frame in morphalite.frames("trace.enc"):
...     print(frame.time_ns, frame.wire_length, frame.data[:14].hex())
>>> morphalite.convert("trace.enc", "pcapng", "trace.pcapng")["framesWritten"]

Reports are the objects ``morphalite identify --json`` and ``morphalite
convert --json`` print; a failure raises :class:`Error` with the command
line's exit status. Nothing is printed.
"""
import json
import os

from . import _morphalite

__all__ = ["Error", "Frame", "formats", "identify", "frames", "convert", "__version__"]
__version__ = _morphalite.version()

Frame = _morphalite.Frame

# Options of the command line that make no sense in a call.
_CONSOLE_OPTIONS = {"json", "quiet", "jobs", "help", "to", "output"}


class Error(Exception):
    """A failure, with the command line's exit status and its message.

    ``status``: 1 bad options, 2 source refused (missing, not a trace file),
    3 read error, 4 target not written, 5 no frames, 6 stopped, 7 bad
    compression. ``message``: "Caption: text" as the command line shows it;
    ``detail``: the reason behind it (record, offset, or the system's error
    with the path), or None. ``report``: the report of the call when there is
    one (convert's dict: frames written before a read error, ...).
    """

    def __init__(self, status, message, detail=None, report=None):
        super().__init__(message if not detail else f"{message}\n  {detail}")
        self.status = status
        self.message = message
        self.detail = detail or None
        self.report = report


def formats():
    """Every format this build reads or writes, as ``morphalite --formats`` lists them.

    A list of dicts: code (two letters, "" for a few writers), name (the
    analyzer), names (friendly names ``to`` takes), suffix, read, write.
    """
    return _morphalite.formats()


def identify(path):
    """What ``morphalite identify --json PATH`` tells of a file, as a dict.

    Keys: file, accepted, analyzer, interface, fileDate, fileTime, fileSize,
    comment, lineSpeed, frames (when stated), targets, destination. A file that
    is refused (missing, unreadable, not a trace file) raises Error with
    status 2.
    """
    done = _morphalite.identify(os.fsdecode(path))
    report = json.loads(done["json"])
    if done["status"]:
        raise Error(done["status"], done["message"], done["detail"], report)
    return report


def frames(path, *, batch_size=None, salvage=False, source_tz=None):
    """The frames of a trace file in file order, as a libpcap target receives them.

    Each frame has ``time_ns`` (UTC nanoseconds since 1970), ``wire_length``,
    ``data`` (bytes, without the Ethernet FCS), ``link_type`` (libpcap/pcapng
    numbering), ``interface`` and ``flags``. With ``batch_size`` the iterator
    yields lists of up to that many frames, which costs less per frame.
    ``salvage`` passes over damage as ``convert --salvage`` does;
    ``source_tz`` names the zone of a source that stores local times.

    The file is read on a thread of its own, ahead of the caller. A source
    that is refused, or that cannot be read to its end, raises Error once
    the frames before the failure have been yielded.
    """
    # Lists of 256 frames in hand at a time cost least: their memory is
    # reused while still in the caches.
    size = int(batch_size or 256)
    if size < 1:
        raise ValueError("batch_size must be at least 1")
    reader = _morphalite.FrameReader(os.fsdecode(path), bool(salvage), source_tz or "", 256)
    batches = iter(lambda: reader.next_batch(size), [])
    if batch_size:
        yield from batches
    else:
        for batch in batches:
            yield from batch
    report = reader.report()
    if report["status"]:
        raise Error(report["status"], report["message"], report["detail"], report)


def _option_value(name, value):
    if name == "range" and isinstance(value, (tuple, list)):
        return f"{value[0]}-{value[1]}"
    if isinstance(value, (tuple, list)):
        return ",".join(str(v) for v in value)
    return os.fsdecode(value) if isinstance(value, (bytes, os.PathLike)) else str(value)


def convert(source, to, output=None, **options):
    """Converts ``source`` to the format ``to`` as ``morphalite convert`` does.

    ``to`` is a code or name as ``--to`` takes it ("TD", "pcapng", "sniffer");
    ``output`` a file or directory (None: beside the source). Options are the
    long options of ``morphalite convert`` with ``-`` written ``_``:
    ``range=(1, 100)`` or ``"1-100"``, ``slice=128``, ``pcap_order="little"``,
    ``ascii_fields=["number", "hex"]``, ``source_tz="America/New_York"``,
    ``no_clobber=True``, ``salvage=True``; a flag given False is left out.

    Returns the dict ``convert --json`` prints: source, target,
    sourceAnalyzer, targetAnalyzer, framesRead, framesWritten, nonDataFrames,
    bytes, firstFrame, lastFrame, losses, outcome, exitStatus, messages,
    detail. Any status but 0 raises Error, its ``report`` that dict.
    """
    pairs = []
    for key, value in options.items():
        name = key.replace("_", "-")
        if name in _CONSOLE_OPTIONS:
            raise Error(1, f"Parameter Error: {key} is not an option of convert() "
                           f"(source, to and output are its arguments)")
        if value is None or value is False:
            continue
        pairs.append((name, "" if value is True else _option_value(name, value)))
    done = _morphalite.convert(os.fsdecode(source), str(to),
                               os.fsdecode(output) if output is not None else "", pairs)
    if done["usage_error"]:
        raise Error(done["status"], "Parameter Error: " + done["usage_error"])
    report = json.loads(done["json"])
    if done["status"]:
        message = done["messages"][0] if done["messages"] else report["outcome"]
        raise Error(done["status"], message, done["detail"], report)
    return report
