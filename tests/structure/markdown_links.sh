#!/usr/bin/env bash
# The links between the Markdown files resolve: every link and image of every tracked *.md file
# that is not http(s) or mailto names a file that exists (relative to the linking file), and its
# #anchor names a heading of the target by GitHub's rule (lowercase, punctuation but hyphens and
# blanks dropped, blanks to hyphens, letters such as umlauts kept, repeats get -1, -2, ...).
# Links in fenced code blocks and inline code are not links. Prints each broken link as
# "file:line: link: what is wrong"; fails if any is, and (exit 2) if there were no links at all.
#   markdown_links.sh [SOURCE-ROOT]
set -u
root=${1:-$(cd "$(dirname "$0")/../.." && pwd)}
[ -d "$root" ] || { echo "no folder $root"; exit 2; }
exec python3 - "$root" <<'EOF'
import os, re, subprocess, sys
from urllib.parse import unquote

root = os.path.abspath(sys.argv[1])
try:
    files = subprocess.run(['git', '-C', root, 'ls-files', '-z', '*.md'], check=True,
                           capture_output=True, text=True).stdout.split('\0')[:-1]
except (OSError, subprocess.CalledProcessError):  # not a git tree: every *.md but the builds'
    files = []
    for d, dirs, names in os.walk(root):
        dirs[:] = [x for x in dirs if x not in ('.git', 'build')]
        files += [os.path.relpath(os.path.join(d, f), root) for f in names if f.endswith('.md')]

def prose(path, keep_code=False):
    """The file's text with fenced blocks (and inline code unless kept) blanked, lines kept."""
    out, fence = [], None
    for line in open(path, encoding='utf-8').read().split('\n'):
        mark = re.match(r' {0,3}(`{3,}|~{3,})(.*)', line)
        if fence is None and mark:
            fence = mark.group(1)
        elif fence and mark and mark.group(1).startswith(fence) and not mark.group(2).strip():
            fence = None
        elif fence is None:
            out.append(line)
            continue
        out.append('')
    text = '\n'.join(out)
    if keep_code:
        return text
    blank = lambda m: '\n' * m.group().count('\n')  # a code span may run over a line break
    return re.sub(r'(`+)(?:(?!\n[ \t]*\n).)+?\1', blank, text, flags=re.S)

anchors = {}
def anchors_of(path):
    if path not in anchors:
        seen, slugs = {}, set()
        for m in re.finditer(r'^ {0,3}#{1,6}[ \t]+(.*?)(?:[ \t]+#+)?[ \t]*$', prose(path, True), re.M):
            title = re.sub(r'!?\[([^\]]*)\]\([^)]*\)', r'\1', m.group(1))
            slug = re.sub(r'[^\w\- ]', '', title.strip().lower()).replace(' ', '-')
            n = seen.get(slug, 0)
            seen[slug] = n + 1
            slugs.add(slug if n == 0 else f'{slug}-{n}')
        anchors[path] = slugs
    return anchors[path]

checked = broken = 0
for rel in files:
    path = os.path.join(root, rel)
    text = prose(path)
    for m in re.finditer(r'\]\(\s*<?([^)\s>]+)|^ {0,3}\[[^\]]+\]:\s*(\S+)', text, re.M):
        link = m.group(1) or m.group(2)
        if re.match(r'(https?|mailto):', link, re.I):
            continue
        checked += 1
        name, _, anchor = link.partition('#')
        target = os.path.normpath(os.path.join(os.path.dirname(path), unquote(name))) if name else path
        problem = None
        if not os.path.exists(target):
            problem = 'no such file ' + os.path.relpath(target, root)
        elif anchor and not target.endswith('.md'):
            problem = 'an anchor into a file that is not Markdown'
        elif anchor and unquote(anchor) not in anchors_of(target):
            problem = f'no heading "{anchor}" in {os.path.relpath(target, root)}'
        if problem:
            broken += 1
            print(f'{rel}:{text.count(chr(10), 0, m.start()) + 1}: {link}: {problem}')
print(f'{checked} links checked in {len(files)} Markdown files, {broken} broken')
sys.exit(2 if checked == 0 else 1 if broken else 0)
EOF
