#!/usr/bin/env python3
"""One measurement across chips, from the bench's results store.

    plot_measurement.py STORE MEASUREMENT [--sequence NAME] [--out PLOT.png]

STORE is a bench's results file (results.db in its data folder) or a lab's
database (postgresql://user@host/db, read with psycopg2). Prints, per chip
(DUT), how many runs measured it, its lowest, mean and highest value, the
last one, the limits and how many runs it failed; with --out, also draws
each chip's values over time with the limits, when matplotlib is installed.
Needs nothing but Python's standard library for the table.
"""
import argparse
import datetime
import sqlite3
import statistics
import sys

QUERY = """
SELECT r.dut, r.started, m.value, m.unit, m.low, m.high, m.outcome
  FROM measurements m JOIN runs r ON r.run_id = m.run_id
 WHERE m.name = {p} {sequence}
 ORDER BY r.started, r.run_id, m.position
"""


def read_points(store, name, sequence):
    if store.startswith(("postgresql://", "postgres://")):
        try:
            import psycopg2
        except ImportError:
            sys.exit("Reading a PostgreSQL store needs psycopg2 (python3-psycopg2).")
        connection, p = psycopg2.connect(store), "%s"
    else:
        # Read-only: a script never changes the bench's file.
        connection, p = sqlite3.connect("file:" + store + "?mode=ro", uri=True), "?"
    sql = QUERY.format(p=p, sequence=("AND r.sequence_name = " + p) if sequence else "")
    params = (name, sequence) if sequence else (name,)
    cursor = connection.cursor()
    cursor.execute(sql, params)
    rows = cursor.fetchall()
    connection.close()
    return rows


def number(value):
    return "" if value is None else "%g" % value


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("store")
    parser.add_argument("measurement")
    parser.add_argument("--sequence", help="only runs of this sequence file (its name)")
    parser.add_argument("--out", help="draw the values over time into this image file")
    args = parser.parse_args()

    rows = read_points(args.store, args.measurement, args.sequence)
    if not rows:
        sys.exit("No run in %s measured %s." % (args.store, args.measurement))
    chips = {}
    for dut, started, value, unit, low, high, outcome in rows:
        chips.setdefault(dut, []).append((started, value, unit, low, high, outcome))

    unit = rows[0][3]
    print("%s (%s) in %d runs on %d chips" % (args.measurement, unit or "no unit", len(rows),
                                              len(chips)))
    print("dut\truns\tlowest\tmean\thighest\tlast\tlow limit\thigh limit\tfailed")
    for dut in sorted(chips):
        points = chips[dut]
        values = [p[1] for p in points if p[1] is not None]
        print("\t".join([dut, str(len(points)), number(min(values)),
                         number(statistics.fmean(values)), number(max(values)),
                         number(points[-1][1]), number(points[-1][3]), number(points[-1][4]),
                         str(sum(1 for p in points if p[5] == "FAIL"))]))

    if args.out:
        try:
            import matplotlib
            matplotlib.use("Agg")
            import matplotlib.pyplot as plt
        except ImportError:
            print("matplotlib is not installed: no plot drawn (python3-matplotlib draws it).")
            return
        figure, axes = plt.subplots()
        for dut in sorted(chips):
            points = chips[dut]
            times = [datetime.datetime.fromtimestamp(p[0] / 1e6, datetime.timezone.utc)
                     for p in points]
            axes.plot(times, [p[1] for p in points], "o-", label=dut)
        low, high = rows[-1][4], rows[-1][5]
        for limit in (low, high):
            if limit is not None:
                axes.axhline(limit, color="red", linestyle="--")
        axes.set_ylabel("%s (%s)" % (args.measurement, unit) if unit else args.measurement)
        axes.legend()
        figure.autofmt_xdate()
        figure.savefig(args.out)
        print("Drawn in %s." % args.out)


if __name__ == "__main__":
    main()
