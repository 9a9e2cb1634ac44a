#!/usr/bin/env python3
"""Args: CLI DOC...; fails when a DOC (roff's "\\-" read as "-") lacks an option of CLI --help."""
import re, subprocess, sys  # noqa: E401
from pathlib import Path

cli, *documents = sys.argv[1:]
usage = subprocess.run([cli, "--help"], capture_output=True, text=True, check=True).stdout
table = re.search(r"^Options:\n((?:  .*\n)+)", usage, re.M | re.I).group(1)  # up to a blank line
options = [name for line in table.splitlines() for name in line.split()[0].split(",")]
texts = {doc: Path(doc).read_text(encoding="utf-8").replace("\\-", "-") for doc in documents}
failed = ["%s lacks %s" % (doc, option) for doc, text in texts.items() for option in options
          if not re.search(r"(?<![\w-])%s(?![\w-])" % re.escape(option), text)]
print("\n".join(failed) or "%d documents show all of %s" % (len(documents), " ".join(options)))
sys.exit(1 if failed else 0)
