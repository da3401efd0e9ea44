# Mutant sites of the shipped code for mutation-score beside this file, run from the project root:
#   python3 mutate_sample.py sites                    every applicable site, one a line
#   python3 mutate_sample.py sample N SEED MANIFEST   draws N sites with a fixed seed, writes
#                                                         them to MANIFEST (JSON, one a line) and
#                                                         prints "id<TAB>file:line<TAB>short diff"
#   python3 mutate_sample.py apply MANIFEST ID        writes one mutant into the tree
# A site is one place in src/**/*.cpp or src/**/*.h and one edit:
#   relational  < <=, > >=, == != (either way)   arithmetic  + -, * /, += -=, *= /= (either way)
#   logical     && ||                             constant    an integer literal other than 0, +-1
#   boolean     true false                        call        a statement that is only a call,
#                                                             put behind if (false)
# The call is kept behind if (false) rather than deleted so that every name it used stays used:
# the build has -Werror, and a deletion could leave a variable or parameter unused. For the same
# reason a flipped && or || in a chain of several gets the parentheses that spell out how the
# chain then groups, which the parentheses warning asks for. Comments, string and character
# literals, preprocessor lines, static_assert and alignas are never mutated.
# Binary operators are recognised by the spaces clang-format puts around them, which tells them
# from template brackets, pointer declarators and unary operators. Not mutated either: anything
# inside template arguments or the brackets of an array declaration (sizes), case labels, + and -
# next to an operand that looks like a pointer or array (flipping them mostly makes code that
# does not compile), and integer literals on the lines that name intrinsics or shuffle templates
# in files that call intrinsics (immediates, where +-1 often leaves the range the
# instruction takes and the build fails without telling anything about the tests).
import glob
import json
import random
import re
import sys

# Vector kernels are the files that call intrinsics, whatever they are called.
SIMD_FILE = re.compile(r"\b_mm\d*_\w+\(")
INTRINSIC_LINE = re.compile(r"\b_mm|\b_MM_|\bpick<")

RELATIONAL = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
ARITHMETIC = {"+": "-", "-": "+", "*": "/", "/": "*", "+=": "-=", "-=": "+=", "*=": "/=",
              "/=": "*="}
LOGICAL = {"&&": "||", "||": "&&"}
POINTERISH = {"data", "begin", "end", "cbegin", "cend", "c_str"}
KEYWORDS = {"return", "if", "while", "for", "switch", "sizeof", "delete", "throw", "new", "case",
            "static_assert", "assert", "static_cast", "reinterpret_cast", "const_cast",
            "dynamic_cast", "alignof", "decltype", "typeid", "else", "do", "goto", "asm"}

TOKEN = re.compile(r"""
   (?P<num>(?:0[xX][0-9a-fA-F']+|\d[\d']*)(?:\.[\d']*)?(?:[eEpP][+-]?\d+)?[uUlLfF]*
          |\.\d[\d']*(?:[eE][+-]?\d+)?[fFlL]?)
  |(?P<id>[A-Za-z_]\w*)
  |(?P<op><<=|>>=|<=>|->\*?|<<|>>|<=|>=|==|!=|&&|\|\||\+\+|--|\+=|-=|\*=|/=|%=|&=|\|=|\^=|::
         |[^\s\w])
""", re.X)
INTEGER = re.compile(r"^(0[xX][0-9a-fA-F]+|[1-9]\d*|0)([uU]?[lL]{0,2}|[lL]{1,2}[uU])$")
CALL_LINE = re.compile(
    r"^(\s*)((?:[A-Za-z_]\w*(?:<[^;()]*>)?(?:::|\.|->))*([A-Za-z_]\w*)(?:<[^;()]*>)?)\((.*)\);\s*$")


def blank(chars, lo, hi):
  for k in range(lo, hi):
    if chars[k] != "\n":
      chars[k] = " "


def matching(text, i, open_c, close_c):
  """Index of the bracket closing the one at i, or -1."""
  depth = 0
  for j in range(i, len(text)):
    if text[j] == open_c:
      depth += 1
    elif text[j] == close_c:
      depth -= 1
      if depth == 0:
        return j
  return -1


def mask(text):
  """The text with comments, literal contents, preprocessor lines, static_assert and alignas
  blanked out; same length and same line breaks."""
  out = list(text)
  i, n = 0, len(text)
  while i < n:
    c = text[i]
    if text.startswith("//", i):
      j = text.find("\n", i)
      j = n if j < 0 else j
      blank(out, i, j)
      i = j
    elif text.startswith("/*", i):
      j = text.find("*/", i + 2)
      j = n if j < 0 else j + 2
      blank(out, i, j)
      i = j
    elif text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
      k = text.find("(", i + 2)
      end = text.find(")" + text[i + 2:k] + '"', k)
      j = n if end < 0 else end + len(text[i + 2:k]) + 1
      blank(out, i + 2, j)
      i = j + 1
    elif c in "\"'":
      if c == "'" and i > 0 and text[i - 1].isalnum():
        # A digit separator when the run of letters and digits before it starts with a digit.
        k = i - 1
        while k > 0 and (text[k - 1].isalnum() or text[k - 1] in "'."):
          k -= 1
        if text[k].isdigit():
          i += 1
          continue
      j = i + 1
      while j < n and text[j] != c and text[j] != "\n":
        j += 2 if text[j] == "\\" else 1
      blank(out, i + 1, j)
      i = j + 1
    else:
      i += 1
  lines = "".join(out).split("\n")
  continued = False
  for k, line in enumerate(lines):
    if continued or line.lstrip().startswith("#"):
      continued = line.rstrip().endswith("\\")
      lines[k] = " " * len(line)
  masked = "\n".join(lines)
  out = list(masked)
  for m in re.finditer(r"\b(static_assert|alignas)\s*\(", masked):
    j = matching(masked, m.end() - 1, "(", ")")
    blank(out, m.start(), len(masked) if j < 0 else j + 1)
  return "".join(out)


def block_lines(masked):
  """For each line (0-based), whether its first character lies inside a function body."""
  kinds, result, line_inside = [], [], False
  last_delim = -1
  for i, c in enumerate(masked):
    if c == "\n":
      result.append(line_inside)
      line_inside = bool(kinds) and kinds[-1] == "block"
    elif c == "{":
      if kinds and kinds[-1] == "block":
        kind = "block"
      else:
        prefix = masked[last_delim + 1:i].strip()
        prefix = re.sub(r"^template\s*<.*?>\s*", "", prefix, flags=re.S)
        if re.match(r'(namespace\b|extern\s*"|(typedef\s+)?(class|struct|union|enum)\b)', prefix):
          kind = "scope"
        elif prefix.endswith(")") or re.search(r"\b(const|noexcept|override|final|mutable)$",
                                               prefix):
          kind = "block"
        else:
          kind = "init"
      kinds.append(kind)
      last_delim = i
    elif c == "}":
      if kinds:
        kinds.pop()
      last_delim = i
    elif c == ";":
      last_delim = i
  result.append(line_inside)
  return result


def spans(m, pattern_open, open_c, close_c):
  """Column ranges inside brackets whose opening bracket matches pattern_open."""
  out = []
  for x in re.finditer(pattern_open, m):
    j = matching(m, x.end() - 1, open_c, close_c)
    out.append((x.end(), len(m) if j < 0 else j))
  return out


def template_spans(m):
  res = []
  for x in re.finditer(r"(\w|\btemplate )<", m):
    i = x.end() - 1
    if m[i - 1] == "<" or m[i + 1:i + 2] in ("<", "="):
      continue
    depth = 0
    for j in range(i, len(m)):
      if m[j] in "<([":
        depth += 1
      elif m[j] in ">)]":
        depth -= 1
        if depth == 0:
          if m[j] == ">":
            res.append((i + 1, j))
          break
      elif m[j] == ";" or (m[j] in "&|" and m[j + 1:j + 2] == m[j]):
        break
  return res


def declaration_array_spans(m):
  res = []
  for x in re.finditer(r"([A-Za-z_]\w*)\s*\[", m):
    pre = m[:x.start()].rstrip()
    word = re.search(r"(\w+)$", pre)
    if (not pre or not re.search(r"[\w>*&]$", pre) or
        re.search(r"[=(,;?:{]", pre.replace("::", ""))):
      continue
    if word and word.group(1) in KEYWORDS:
      continue
    j = matching(m, x.end() - 1, "[", "]")
    res.append((x.end(), len(m) if j < 0 else j))
  return res


def inside(col, ranges):
  return any(lo <= col < hi for lo, hi in ranges)


def pointer_names(masked_texts):
  names = set(POINTERISH)
  for m in masked_texts:
    names.update(re.findall(r"[\w>\]]\*+\s+(?:const\s+)?([A-Za-z_]\w*)", m))
    for line in m.split("\n"):
      for lo, _ in declaration_array_spans(line):
        names.add(re.search(r"([A-Za-z_]\w*)\s*\[$", line[:lo]).group(1))
  return names


def looks_pointer(m, c, length, pointers):
  """Whether an operand of the binary operator at column c looks like a pointer or array."""
  j = c - 1
  while j >= 0 and m[j] == " ":
    j -= 1
  if j >= 0 and m[j] == '"':
    return True
  if j >= 0 and m[j] == ")":
    depth = 0
    for k in range(j, -1, -1):
      depth += {")": 1, "(": -1}.get(m[k], 0)
      if depth == 0:
        before = m[:k].rstrip()
        if before.endswith("*>"):
          return True
        callee = re.search(r"(\w+)$", before)
        if callee and callee.group(1) in pointers:
          return True
        break
  elif j >= 0:
    ident = re.search(r"(\w+)$", m[:j + 1])
    if ident and ident.group(1) in pointers and not re.search(
        r"\bsizeof\s+[\w.>-]*$", m[:j + 1]):
      return True
  k = c + length
  while k < len(m) and m[k] == " ":
    k += 1
  if m[k:k + 1] in ('"', "&"):
    return True
  chain = re.match(r"[A-Za-z_][\w.]*(?:->[\w.]+)*", m[k:])
  if chain:
    last = re.search(r"(\w+)$", chain.group(0)).group(1)
    after = m[k + chain.end():k + chain.end() + 1]
    if last in pointers and after not in ("(", "["):
      return True
  return False


def is_assignment(m, i):
  return m[i] == "=" and m[i - 1:i] not in ("=", "!", "<", ">") and m[i + 1:i + 2] != "="


def is_colon(m, i):
  return m[i] == ":" and m[i - 1:i] != ":" and m[i + 1:i + 2] != ":"


def logical_chain(o, m, col, tok):
  """For an operator in a chain of two or more, (column, old text, new text) of the chain with
  the flipped operator and the parentheses that spell out how it then groups, so that the build
  does not stop on a parentheses warning. None for a lone operator or a chain this line does not
  hold whole."""
  depth, lo = 0, None
  for i in range(col - 1, -1, -1):
    if m[i] in ")]}":
      depth += 1
    elif m[i] in "([{":
      if depth == 0:
        lo = i + 1
        break
      depth -= 1
    elif depth == 0 and (m[i] in ",;?" or is_colon(m, i) or is_assignment(m, i)):
      lo = i + 1
      break
  if lo is None:
    start = re.match(r"\s*return\s", m)
    if not start:
      return None
    lo = start.end()
  depth, hi = 0, None
  for i in range(col + len(tok), len(m)):
    if m[i] in "([{":
      depth += 1
    elif m[i] in ")]}":
      if depth == 0:
        hi = i
        break
      depth -= 1
    elif depth == 0 and (m[i] in ",;?" or is_colon(m, i)):
      hi = i
      break
  if hi is None:
    return None
  lo += len(m[lo:hi]) - len(m[lo:hi].lstrip())
  hi -= len(m[lo:hi]) - len(m[lo:hi].rstrip())
  ops, depth = [], 0
  for t in TOKEN.finditer(m, lo, hi):
    if t.group(0) in "([{":
      depth += 1
    elif t.group(0) in ")]}":
      depth -= 1
    elif depth == 0 and t.group(0) in LOGICAL:
      ops.append((t.start(), t.group(0)))
  if len(ops) < 2 or any(t != tok for _, t in ops):
    return None
  bounds = [lo] + [x for c, t in ops for x in (c, c + len(t))] + [hi]
  parts = [o[bounds[2 * k]:bounds[2 * k + 1]].strip() for k in range(len(ops) + 1)]
  k = [c for c, _ in ops].index(col)
  if tok == "||":
    grouped = parts[:k] + ["(" + parts[k] + " && " + parts[k + 1] + ")"] + parts[k + 2:]
    new = " || ".join(grouped)
  else:
    left, right = " && ".join(parts[:k + 1]), " && ".join(parts[k + 1:])
    left = f"({left})" if k > 0 else left
    right = f"({right})" if len(parts) - k > 2 else right
    new = left + " || " + right
  return lo, o[lo:hi], new


def operand_before(m, c):
  j = c - 1
  while j >= 0 and m[j] == " ":
    j -= 1
  return j >= 0 and (m[j].isalnum() or m[j] in "_)]'\"")


def operand_after(m, c):
  k = c
  while k < len(m) and m[k] == " ":
    k += 1
  return k < len(m) and (m[k].isalnum() or m[k] in "_(!~-*&'\"")


def file_sites(path, text, masked, pointers):
  sites = []
  orig_lines, masked_lines = text.split("\n"), masked.split("\n")
  in_block = block_lines(masked)
  simd = SIMD_FILE.search(text) is not None
  for number, (o, m) in enumerate(zip(orig_lines, masked_lines), start=1):
    if not m.strip():
      continue
    templates, arrays = template_spans(m), declaration_array_spans(m)
    case_label = re.match(r"\s*case\b", m)

    def add(kind, col, old, new):
      sites.append({"file": path, "line": number, "col": col, "kind": kind, "old": old,
                    "new": new, "before": o, "after": o[:col] + new + o[col + len(old):]})

    for t in TOKEN.finditer(m):
      col, tok = t.start(), t.group(0)
      if t.lastgroup == "op":
        spaced = col > 0 and m[col - 1] == " " and m[col + len(tok):col + len(tok) + 1] == " "
        if not spaced or not operand_before(m, col) or not operand_after(m, col + len(tok)):
          continue
        if tok in RELATIONAL and not inside(col, templates):
          add("relational", col, tok, RELATIONAL[tok])
        elif tok in LOGICAL:
          chain = logical_chain(o, m, col, tok)
          if chain:
            add("logical", *chain)
          else:
            add("logical", col, tok, LOGICAL[tok])
        elif tok in ARITHMETIC and not inside(col, templates) and not inside(col, arrays):
          if tok[0] in "+-" and looks_pointer(m, col, len(tok), pointers):
            continue
          add("arithmetic", col, tok, ARITHMETIC[tok])
      elif t.lastgroup == "num":
        whole = INTEGER.match(tok)
        if (not whole or whole.group(1) == "0" or inside(col, templates) or
            inside(col, arrays) or case_label or (simd and INTRINSIC_LINE.search(m))):
          continue
        add("constant", col, tok, tok)  # the direction is drawn with the sample
      elif tok in ("true", "false"):
        add("boolean", col, tok, "false" if tok == "true" else "true")
    call = CALL_LINE.match(m)
    if call and in_block[number - 1] and call.group(3) not in KEYWORDS:
      stmt_lo = len(call.group(1))
      stmt_hi = m.rindex(";") + 1
      open_paren = len(call.group(1)) + len(call.group(2))
      closes = matching(m, open_paren, "(", ")")
      previous = masked[:sum(len(x) + 1 for x in masked_lines[:number - 1])].rstrip()
      starts = previous == "" or previous[-1] in ";{})" or (
          previous[-1] == ":" and not previous.endswith("::")) or re.search(
              r"\b(else|do)$", previous)
      if closes == stmt_hi - 2 and starts:
        stmt = o[stmt_lo:stmt_hi]
        add("call", stmt_lo, stmt, "{ if (false) " + stmt + " }")
  return sites


def all_sites():
  paths = sorted(glob.glob("src/**/*.cpp", recursive=True) + glob.glob("src/**/*.h",
                                                                         recursive=True))
  texts = {}
  for p in paths:
    with open(p) as f:
      texts[p] = f.read()
  masked = {p: mask(t) for p, t in texts.items()}
  pointers = pointer_names(masked.values())
  sites = []
  for p in paths:
    sites.extend(file_sites(p, texts[p], masked[p], pointers))
  return sites


def step_constant(tok, delta):
  whole = INTEGER.match(tok)
  digits, suffix = whole.group(1), whole.group(2)
  if digits[:2].lower() == "0x":
    value = int(digits, 16) + delta
    hexed = format(value, "X" if any(ch in "ABCDEF" for ch in digits) else "x")
    return digits[:2] + hexed + suffix
  return str(int(digits) + delta) + suffix


def short_diff(site, width=20):
  """The changed part of the line with a few words on either side, before and after."""
  before, after, col = site["before"], site["after"], site["col"]
  indent = len(before) - len(before.lstrip())
  lo = max(indent, col - width)
  space = before.rfind(" ", indent, lo + 1)
  if lo > indent and space >= lo - 12:  # widened to the start of the word, if not far
    lo = space + 1 if space >= indent else indent
  tail_old, tail_new = col + len(site["old"]), col + len(site["new"])

  def cut(line, tail):
    hi = min(len(line), tail + width)
    space = line.find(" ", hi)
    if hi < len(line) and 0 <= space <= hi + 12:
      hi = space
    return ("..." if lo > indent else "") + line[lo:hi] + ("..." if hi < len(line) else "")

  return f"{site['kind']}: {cut(before, tail_old)}  =>  {cut(after, tail_new)}"


def main():
  command = sys.argv[1]
  if command == "sites":
    for s in all_sites():
      print(f"{s['file']}:{s['line']}\t{s['kind']}\t{s['old']} -> {s['new']}\t"
            f"{s['before'].strip()}")
    return 0
  if command == "sample":
    count, seed, manifest = int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    sites = all_sites()
    rng = random.Random(seed)
    chosen = rng.sample(range(len(sites)), min(count, len(sites)))
    picked = []
    for index in chosen:
      s = dict(sites[index])
      if s["kind"] == "constant":
        s["new"] = step_constant(s["old"], rng.choice((1, -1)))
        s["after"] = s["before"][:s["col"]] + s["new"] + s["before"][s["col"] + len(s["old"]):]
      picked.append(s)
    # File order, so that consecutive mutants mostly rebuild the same object.
    picked.sort(key=lambda s: (s["file"], s["line"], s["col"]))
    kinds = {}
    for s in sites:
      kinds[s["kind"]] = kinds.get(s["kind"], 0) + 1
    with open(manifest, "w") as f:
      for number, s in enumerate(picked, start=1):
        s["id"] = str(number)
        f.write(json.dumps(s) + "\n")
    summary = ", ".join(f"{k} {v}" for k, v in sorted(kinds.items()))
    print(f"# {len(picked)} of {len(sites)} sites drawn with seed {seed} ({summary})")
    for s in picked:
      print(f"{s['id']}\t{s['file']}:{s['line']}\t{short_diff(s)}")
    return 0
  if command == "apply":
    manifest, ident = sys.argv[2], sys.argv[3]
    with open(manifest) as f:
      site = next(s for s in map(json.loads, f) if s["id"] == ident)
    with open(site["file"]) as f:
      lines = f.read().split("\n")
    if lines[site["line"] - 1] != site["before"]:
      print(f"{site['file']}:{site['line']} is not the line the site was drawn from")
      return 3
    lines[site["line"] - 1] = site["after"]
    with open(site["file"], "w") as f:
      f.write("\n".join(lines))
    return 0
  print(f"unknown command {command}")
  return 2


sys.exit(main())
