#!/usr/bin/env python3
"""Every relative link of README.md and docs/*.md reaches a file, and a heading where it names one.

The documentation is split over several pages that link into each other by heading; a heading
renamed or moved on one page silently breaks the links of the others. Anchors are made as GitHub
makes them: lower case, punctuation dropped, spaces as hyphens, -1, -2 ... for repeated headings.
usage: doclinks.py PROJECT_ROOT
"""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1]).resolve()
pages = [root / 'README.md'] + sorted((root / 'docs').glob('*.md'))


def prose(path):
    """The lines of a page outside fenced code blocks."""
    fenced = False
    for line in path.read_text(encoding='utf-8').splitlines():
        if line.startswith('```'):
            fenced = not fenced
        elif not fenced:
            yield line


def anchors(path):
    seen = {}
    for line in prose(path):
        heading = re.match(r'#{1,6} (.*)', line)
        if not heading:
            continue
        slug = re.sub(r'[^\w\- ]', '', heading.group(1).strip().lower()).replace(' ', '-')
        count = seen.get(slug, 0)
        seen[slug] = count + 1
        yield slug if count == 0 else f'{slug}-{count}'


known = {page: set(anchors(page)) for page in pages}
broken = []
checked = 0
for page in pages:
    for line in prose(page):
        for target in re.findall(r'\]\(([^)\s]+)\)', re.sub(r'`[^`]*`', '', line)):
            if re.match(r'[a-z]+:', target):
                continue
            checked += 1
            path, _, fragment = target.partition('#')
            file = (page.parent / path).resolve() if path else page
            where = f'{page.relative_to(root)}: ({target})'
            if not file.exists():
                broken.append(f'{where}: no file {path}')
            elif fragment and file.suffix == '.md' and fragment not in known.get(file, set(anchors(file))):
                broken.append(f'{where}: {file.relative_to(root)} has no heading #{fragment}')
if checked == 0:
    sys.exit('no relative links found: the pages are not where this check looks')
if broken:
    sys.exit('broken links:\n  ' + '\n  '.join(broken))
print(f'{checked} relative links in {len(pages)} pages, all reach their file and heading')
