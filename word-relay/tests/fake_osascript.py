#!/usr/bin/env python3
"""Plays Microsoft Word and System Events for word-relay's tests.

Run in place of osascript: the script arrives on standard input. Only the
exact script texts word-relay sends are understood; anything else is
answered like osascript answers a script that does not compile.

$FAKE_WORD_STATE names a JSON file with Word's state, read and written back
on every run:

  documents      list of {"name", "full_name", "path", "saved",
                 "alias_path" (what `full_name as alias` gives as a POSIX
                 path; absent: the conversion fails), "properties" {name: value}}
  active         index of the active document (default 0)
  sheet_counts   sheets of Word's front window, one per count request; the
                 last one repeats
  saves_as       {"full_name", "path"}: when the Save dialog closes (a count
                 of 0 after one above 0) the active document is saved there
  errors         {kind: {"number", "message"} or {"stderr": raw text}}: the
                 script of that kind fails so
  syntax_errors  [kind, ...]: those scripts do not compile
  replies        {kind: text}: the script of that kind answers this text
  hangs          [kind, ...]: those scripts start a helper process and wait
                 for it without end, as a script does against a hung Word;
                 [own pid, helper pid] is written to $FAKE_WORD_STATE.hung

Kinds: active_doc, save, keystroke, sheet_count, set_stamp.
Every script received is appended to $FAKE_WORD_LOG as {"kind", "text"}.
"""

import json
import os
import re
import subprocess
import sys

ACTIVE_DOC = """tell application "Microsoft Word"
    if (count of documents) = 0 then return "NONE"
    set d to active document
    set theName to name of d
    set wasSaved to saved of d
    set hasPath to (path of d) is not ""
    set thePath to ""
    try
        set fn to full name of d
        if fn starts with "/" then
            set thePath to fn
        else
            set thePath to POSIX path of (fn as alias)
        end if
    end try
    return theName & tab & (wasSaved as string) & tab & thePath & tab & (hasPath as string) & tab & (path of d)
end tell"""

SAVE = """tell application "Microsoft Word"
    if (count of documents) = 0 then return "NONE"
    save active document
end tell
return "OK\""""

KEYSTROKE = 'tell application "System Events" to keystroke "s" using {command down}'

SHEET_COUNT = """tell application "System Events" to tell process "Microsoft Word"
    return count of sheets of front window
end tell"""

SET_STAMP = """tell application "Microsoft Word"
    set target to missing value
    -- Word refuses `repeat with d in documents` (-1708); index instead.
    repeat with i from 1 to (count of documents)
        set d to document i
        set p to ""
        try
            set fn to full name of d
            if fn starts with "/" then
                set p to fn
            else
                set p to POSIX path of (fn as alias)
            end if
        end try
        if p is "\u00abpath\u00bb" then
            set target to d
            exit repeat
        end if
    end repeat
    if target is missing value then return "NOT_OPEN"
    set wasClean to saved of target
    repeat with pair in {{"OstrelDocumentId", "\u00abdocument\u00bb"}, \u00ac
        {"OstrelVersionId", "\u00abversion\u00bb"}, \u00ac
        {"OstrelMatterId", "\u00abmatter\u00bb"}, \u00ac
        {"OstrelSessionId", "\u00absession\u00bb"}}
        set k to item 1 of pair
        set v to item 2 of pair
        if v is "" then
            try
                delete (custom document property k of target)
            on error
                try
                    set value of (custom document property k of target) to ""
                end try
            end try
        else
            try
                set value of (custom document property k of target) to v
            on error
                make new custom document property at target with properties \u00ac
                    {name:k, value:v, document property type:property type string}
            end try
        end if
    end repeat
    if wasClean then
        set saved of target to false
        save target
        return "SAVED"
    end if
    return "PENDING"
end tell"""

STAMP_MARKERS = ["path", "document", "version", "matter", "session"]
# An escaped value: backslash pairs or anything but a quote or a backslash.
ESCAPED_VALUE = r'((?:[^"\\]|\\.)*)'


def stamp_pattern():
    pattern = re.escape(SET_STAMP)
    for marker in STAMP_MARKERS:
        pattern = pattern.replace(re.escape("\u00ab" + marker + "\u00bb"), ESCAPED_VALUE, 1)
    return re.compile(pattern + r"\Z", re.DOTALL)


def unescape(value):
    return re.sub(r"\\(.)", r"\1", value, flags=re.DOTALL)


def posix_path(document):
    full_name = document.get("full_name", "")
    if full_name.startswith("/"):
        return full_name
    return document.get("alias_path")


def as_text(flag):
    return "true" if flag else "false"


def active_doc(state, _values):
    documents = state.get("documents", [])
    if not documents:
        return "NONE"
    d = documents[state.get("active", 0)]
    location = d.get("path", "")
    return "\t".join([d["name"], as_text(d.get("saved", True)), posix_path(d) or "",
                      as_text(location != ""), location])


def save(state, _values):
    documents = state.get("documents", [])
    if not documents:
        return "NONE"
    documents[state.get("active", 0)]["saved"] = True
    return "OK"


def keystroke(state, _values):
    state["keystrokes"] = state.get("keystrokes", 0) + 1
    return ""


def sheet_count(state, _values):
    counts = state.get("sheet_counts", [0])
    count = counts.pop(0) if len(counts) > 1 else counts[0]
    state["sheet_counts"] = counts
    if count > 0:
        state["dialog_seen"] = True
    elif state.get("dialog_seen") and state.get("saves_as"):
        d = state["documents"][state.get("active", 0)]
        d.update(state.pop("saves_as"))
        d["saved"] = True
    return str(count)


def set_stamp(state, values):
    path, *stamp = values
    target = next((d for d in state.get("documents", []) if posix_path(d) == path), None)
    if target is None:
        return "NOT_OPEN"
    was_clean = target.get("saved", True)
    properties = target.setdefault("properties", {})
    names = ["OstrelDocumentId", "OstrelVersionId", "OstrelMatterId", "OstrelSessionId"]
    for name, value in zip(names, stamp):
        if value == "":
            properties.pop(name, None)
        else:
            properties[name] = value
    return "SAVED" if was_clean else "PENDING"


def recognise(source):
    fixed = {ACTIVE_DOC: ("active_doc", active_doc), SAVE: ("save", save), KEYSTROKE: ("keystroke", keystroke),
             SHEET_COUNT: ("sheet_count", sheet_count)}
    if source in fixed:
        return fixed[source] + ([],)
    match = stamp_pattern().match(source)
    if match:
        return "set_stamp", set_stamp, [unescape(v) for v in match.groups()]
    return None, None, None


def main():
    source = sys.stdin.buffer.read().decode("utf-8")
    state_file = os.environ["FAKE_WORD_STATE"]
    with open(state_file, encoding="utf-8") as f:
        state = json.load(f)
    kind, play, values = recognise(source)
    with open(os.environ["FAKE_WORD_LOG"], "a", encoding="utf-8") as log:
        log.write(json.dumps({"kind": kind, "text": source}) + "\n")

    if kind in state.get("hangs", []):
        helper = subprocess.Popen(["sleep", "600"])
        hung = state_file + ".hung"
        with open(hung + ".writing", "w", encoding="utf-8") as f:
            json.dump([os.getpid(), helper.pid], f)
        os.replace(hung + ".writing", hung)
        helper.wait()
        return 1
    if kind is None or kind in state.get("syntax_errors", []):
        sys.stderr.write("0:4: syntax error: A identifier can\u2019t go after this identifier. (-2740)\n")
        return 1
    failure = state.get("errors", {}).get(kind)
    if failure is not None:
        if "stderr" in failure:
            sys.stderr.write(failure["stderr"])
        else:
            number = f" ({failure['number']})" if "number" in failure else ""
            sys.stderr.write(f"0:{len(source)}: execution error: {failure.get('message', '')}{number}\n")
        return 1

    reply = state["replies"][kind] if kind in state.get("replies", {}) else play(state, values)
    temporary = state_file + ".writing"
    with open(temporary, "w", encoding="utf-8") as f:
        json.dump(state, f, ensure_ascii=False)
    os.replace(temporary, state_file)
    sys.stdout.buffer.write((reply + "\n").encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
