#!/usr/bin/env python3
"""Converts every trace file under SRC_DIR into OUT_DIR with Dask, one task per file.

    dask_convert.py SRC_DIR OUT_DIR --to CODE [--workers N] [--scheduler ADDRESS]

Without --scheduler a LocalCluster of N worker processes runs on this machine;
with it, the tasks go to that dask.distributed scheduler (a cluster started
with dask-jobqueue, the Dask Kubernetes operator, `dask scheduler` by hand),
whose workers need the morphalite package and see both folders.
Prints one JSON line per file (the report of `morphalite convert --json`, or
the failure) and a summary line; the exit status is that of the first file
that failed, in path order, as the command line's batches do.
"""
import argparse
import json
import os
import sys
from pathlib import Path

from dask.distributed import Client, LocalCluster, as_completed


def convert_one(source, target_dir, to):
    """Runs on a worker: one file, a report that is always a plain dict."""
    import morphalite

    os.makedirs(target_dir, exist_ok=True)
    try:
        return morphalite.convert(source, to, target_dir + os.sep)
    except morphalite.Error as failure:
        report = dict(failure.report or {"source": source, "exitStatus": failure.status})
        report["error"] = str(failure)
        return report


def sources_under(folder):
    return sorted(str(p) for p in Path(folder).rglob("*") if p.is_file())


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("src_dir")
    parser.add_argument("out_dir")
    parser.add_argument("--to", required=True, help="target code or name, as convert --to takes")
    parser.add_argument("--workers", type=int, default=os.cpu_count() or 1,
                        help="worker processes of the local cluster (default: one per core)")
    parser.add_argument("--scheduler", help="address of a running dask.distributed scheduler")
    args = parser.parse_args(argv)

    sources = sources_under(args.src_dir)
    if not sources:
        print(f"{args.src_dir}: no files", file=sys.stderr)
        return 2
    cluster = None
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        # One thread per process: each conversion runs its own file's I/O.
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
    try:
        out_dir = os.path.abspath(args.out_dir)
        futures = {}
        for source in sources:
            # The folder tree of the sources is kept under OUT_DIR.
            relative = os.path.relpath(os.path.dirname(source), args.src_dir)
            target_dir = os.path.normpath(os.path.join(out_dir, relative))
            futures[client.submit(convert_one, os.path.abspath(source), target_dir, args.to,
                                  pure=False)] = source
        reports = {}
        for future in as_completed(futures):
            report = future.result()
            reports[futures[future]] = report
            print(json.dumps(report), flush=True)
    finally:
        client.close()
        if cluster:
            cluster.close()

    failed = [s for s in sources if reports[s].get("exitStatus", 1) != 0]
    print(json.dumps({"files": len(sources), "converted": len(sources) - len(failed),
                      "failed": failed,
                      "framesWritten": sum(r.get("framesWritten", 0) for r in reports.values())}))
    return reports[failed[0]].get("exitStatus", 1) if failed else 0


if __name__ == "__main__":
    sys.exit(main())
