#!/usr/bin/env python3
"""Runs qrv-writer-cli --json through a scripted sequence on the simulated
programmer and checks every line it prints against the published schema.

Each line must match exactly one object definition of the schema, a call that
fails must end with the error object of its exit status, and every object
definition must be matched by some line: a definition that nothing prints any
more, or an object the schema does not describe, fails the test.

usage: json_schema_test.py CLI SCHEMA WORKDIR
"""
import json
import os
import subprocess
import sys

try:
    import jsonschema
except ImportError:
    sys.exit("python3-jsonschema is missing (scripts/setup.sh installs it)")


def hex_file(path, count, seed=3):
    lines = []
    for a in range(0, count, 16):
        data = [(i * 5 + seed) & 0xFF for i in range(a, min(a + 16, count))]
        record = [len(data), a >> 8, a & 0xFF, 0] + data
        lines.append(":" + "".join("%02X" % b for b in record) + "%02X" % (-sum(record) & 0xFF))
    lines.append(":00000001FF")
    with open(path, "w", newline="") as f:
        f.write("\r\n".join(lines) + "\r\n")


def main():
    cli, schema_path, work = sys.argv[1:4]
    os.makedirs(work, exist_ok=True)
    with open(schema_path, encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.Draft7Validator.check_schema(schema)
    names = [ref["$ref"].rsplit("/", 1)[1] for ref in schema["oneOf"]]
    validators = {}
    for name in names:
        sub = dict(schema["definitions"][name])
        sub["definitions"] = schema["definitions"]
        validators[name] = jsonschema.Draft7Validator(sub)
    whole = jsonschema.Draft7Validator(schema)

    image = os.path.join(work, "image.hex")
    production = os.path.join(work, "production.hex")
    bad = os.path.join(work, "bad.hex")
    hex_file(image, 0x120)
    with open(bad, "w") as f:
        f.write(":10000000ZZ\r\n")
    w = lambda name: os.path.join(work, name)
    quick = "--simulate=latency-us=0"
    calls = [
        # (arguments, expected exit status)
        ([quick, "list", "info", image, "chooser-word", "--model", "QM-001",
          "export", image, "-o", production, "--model", "QM-012", "--auto-steps",
          "option,erase,verify", "--read-protect", "--marker", "1", "--file-marker", "2",
          "merge", image, "-o", w("merged.bin"),
          "download", image, "status", "blank", "erase", "program", "verify", "auto",
          "checksum", "read-chip", w("chip.hex"), "read-cache", w("cache.hex"),
          "mode", "S3_4K", "eeprom-read", "0xA3", "24C04", "eeprom-write", "0xA0", "24C02",
          "user-option", "calibrate", "8M", "calibrate", "16000", "erase-storage"], 0),
        ([quick, "download", production, "auto"], 0),
        (["--simulate=latency-us=0,old-firmware", "update-firmware"], 0),
        (["--simulate=fail=verify,latency-us=0", "auto"], 1),
        (["--simulate=wrong-model,latency-us=0", "download", production, "auto"], 1),
        ([quick, "--device", "/dev/no-such-programmer", "status"], 3),
        ([quick, "frobnicate"], 2),
        ([quick, "download", bad], 2),
        (["download", bad], 2),
        # A station: every object names its slot, and each slot ends with its
        # station object (programmer 3 has no serial: null).
        (["--simulate=count=3,fail=verify@2,serial@3=,latency-us=0", "--all", "list",
          "download", image, "auto"], 1),
        (["--simulate=count=2,latency-us=0", "--slots", "5", "status"], 2),
    ]
    matched = set()
    failures = []
    for args, expected in calls:
        run = subprocess.run([cli, "--json"] + args, capture_output=True, timeout=120)
        label = " ".join(args)
        if run.returncode != expected:
            failures.append("%s: exit %d, expected %d\n%s" %
                            (label, run.returncode, expected, run.stderr.decode(errors="replace")))
        lines = run.stdout.decode("utf-8").splitlines()
        objects = []
        for line in lines:
            try:
                obj = json.loads(line)
            except ValueError as e:
                failures.append("%s: not JSON: %r (%s)" % (label, line, e))
                continue
            objects.append(obj)
            hits = [n for n, v in validators.items() if v.is_valid(obj)]
            if len(hits) != 1 or not whole.is_valid(obj):
                reasons = "; ".join(e.message for e in whole.iter_errors(obj))
                failures.append("%s: %s matches %s %s" % (label, line, hits or "nothing", reasons))
            matched.update(hits)
        ends = [o for o in objects if o.get("command") == "station"]
        if ends:
            # A station's call ends with one station object per slot, in slot
            # order; the call's exit status is the highest of theirs.
            slots = [o["slot"] for o in ends]
            if objects[-len(ends):] != ends or slots != sorted(set(slots)):
                failures.append("%s: the station objects are not last, one per slot" % label)
            if max(o["exit"] for o in ends) != expected:
                failures.append("%s: no station object has exit %d" % (label, expected))
            for o in objects:
                if "slot" not in o:
                    failures.append("%s: %s names no slot" % (label, o))
        elif expected != 0:
            last = objects[-1] if objects else {}
            if last.get("exit") != expected:
                failures.append("%s: the last object is not the error of exit %d: %s" %
                                (label, expected, last))
    for name in names:
        if name not in matched:
            failures.append("the definition '%s' was never printed" % name)
    for f in failures:
        print("FAIL:", f)
    print("%d calls, %d of %d definitions matched" % (len(calls), len(matched), len(names)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
