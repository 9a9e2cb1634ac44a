#!/usr/bin/env python3
"""Fails when an option that `tonequay-cli --help` lists, short or long, is missing from a
document. Arguments: TONEQUAY_CLI DOCUMENT... (a man page's escaped dashes are read as dashes)"""
import re, subprocess, sys  # noqa: E401

cli, *documents = sys.argv[1:]
usage = subprocess.run([cli, "--help"], capture_output=True, text=True, check=True).stdout
table = re.search(r"^Options:\n((?:  .*\n)+)", usage, re.M | re.I)
options = [name for line in table.group(1).splitlines() for name in line.split()[0].split(",")]
failed = []
for document in documents:
    text = open(document, encoding="utf-8").read().replace("\\-", "-")  # noqa: SIM115
    failed += ["%s lacks %s" % (document, option) for option in options
               if not re.search(r"(?<![\w-])%s(?![\w-])" % re.escape(option), text)]
print("\n".join(failed) or "%d documents show all of %s" % (len(documents), " ".join(options)))
sys.exit(1 if failed else 0)
