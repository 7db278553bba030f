#!/usr/bin/python3
"""Runs every JScript and VBScript example of docs/reference.md in the page host, as written
there: the code blocks, the handler blocks, the whole page and each cell of the table of other
calls. Each example goes into a page with the reference's own OBJECT element; the page then lists
two files and uploads them to the test receiver, so that handlers run too. Message boxes and
dialogs are answered as a user would (Escape, then Enter for a question without a cancel).

  reference_examples.py EMULATOR HOST.EXE REFERENCE.md WORK_DIR   (inside with_servers.sh)
"""
import os
import re
import subprocess
import sys

EMULATOR, HOST, REFERENCE, WORK = sys.argv[1:5]
PORT = int(os.environ["PL5_PHP_PORT"])
# The files the examples name, made in the test prefix's drive C.
DRIVE_C = os.path.join(os.environ["WINEPREFIX"], "drive_c")
FILES = {"photos/beach.jpg": b"\xff\xd8 a picture\n" * 100, "photos/notes.txt": b"notes\r\n"}
ELEMENTS = ('<div id="log"></div><pre id="answer"></pre>'
            '<div id="photoZone" style="position:absolute; left:0px; top:210px; width:200px; height:60px">pictures</div>'
            '<div id="docZone" style="position:absolute; left:210px; top:210px; width:200px; height:60px">documents</div>'
            '<div id="docs" style="position:absolute; left:420px; top:210px; width:100px; height:60px">docs</div>')
PRELUDE = ('<script>\nhost.SetDialogPolicy("escape", "enter");\nUploader.SilentMode = true;\n'
           'Uploader.Action = "http://127.0.0.1:%d/receive.php";\n</script>\n' % PORT)
DRIVER = {  # lists two files, removes one (a veto may ask), uploads: the handlers' events fire
    "js": ('<script>\nUploader.AddFile("C:\\\\photos\\\\beach.jpg");\nUploader.AddFile("C:\\\\photos\\\\notes.txt");\n'
           'Uploader.RemoveFromIndex(1);\nhost.Print("answer: " + Uploader.StartUpload());\nhost.Exit(0);\n</script>\n'),
    "vb": ('<script language="VBScript">\n%sUploader.AddFile "C:\\photos\\beach.jpg"\nUploader.AddFile "C:\\photos\\notes.txt"\n'
           'Uploader.RemoveFromIndex 1\nhost.Print "answer: " & Uploader.StartUpload()\nhost.Exit 0\n</script>\n'),
}


def examples(text):
    """(line, language, code) of every example: fenced blocks and the table of other calls."""
    found = [(text.count("\n", 0, m.start()) + 1, m.group(1), m.group(2))
             for m in re.finditer(r"^```(js|vb|html)\n(.*?)^```$", text, re.S | re.M)]
    table = re.search(r"^\| JScript \| VBScript \|\n\|[-|]+\|\n((?:\|.*\|\n)+)", text, re.M)
    first = text.count("\n", 0, table.start(1)) + 1
    for number, row in enumerate(table.group(1).splitlines()):
        for language, cell in zip(("js", "vb"), row.strip("|").split(" | ")):
            if "VBScript form only" in cell:
                continue
            code = "\n".join(re.findall(r"`([^`]+)`", cell))
            found.append((first + number, language, code if language == "vb" else code + ";"))
    return found


def page(language, code, embedding):
    """A page around one example; whole pages get only the prelude and the driver."""
    if language == "html" and code.lstrip().startswith("<!DOCTYPE"):
        return code.replace("</body>", PRELUDE + DRIVER["js"] + "</body>")
    head = "<!DOCTYPE html>\n<html>\n<body>\n" + embedding + ELEMENTS + PRELUDE
    if language == "js":
        return head + "<script>\n" + code + "</script>\n" + DRIVER["js"] + "</body></html>\n"
    if language == "vb":
        return head + '<script language="VBScript">\n' + code + "</script>\n" + DRIVER["js"] + "</body></html>\n"
    # A block of handlers: in VBScript the driver runs what a browser runs when the page loads.
    onload = "Window_OnLoad\n" if "Sub Window_OnLoad" in code else ""
    driver = DRIVER["vb"] % onload if 'language="VBScript"' in code else DRIVER["js"]
    return head + code + driver + "</body></html>\n"


def main():
    with open(REFERENCE, encoding="utf-8") as f:
        text = f.read()
    for name, content in FILES.items():
        os.makedirs(os.path.dirname(os.path.join(DRIVE_C, name)), exist_ok=True)
        with open(os.path.join(DRIVE_C, name), "wb") as f:
            f.write(content)
    found = examples(text)
    embedding = next(code for _, language, code in found if language == "html" and "<object" in code)
    found = [example for example in found if example[2] != embedding]  # in every page already
    os.makedirs(WORK, exist_ok=True)
    failures = 0
    for number, (line, language, code) in enumerate(found):
        path = os.path.join(WORK, "example-%02d-line%d-%s.html" % (number, line, language))
        with open(path, "w", encoding="utf-8") as f:
            f.write(page(language, code, embedding))
        # A page from a local file, as an administrator's tools open one: the Local Machine zone.
        run = subprocess.run(EMULATOR.split() + [HOST, "--timeout", "60",
                                                 subprocess.check_output(["winepath", "-w", path], text=True).strip()],
                             stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
        if run.returncode != 0 or "answer: " not in run.stdout:
            failures += 1
            print("FAIL: the %s example at reference.md:%d ended with %d\n%s%s" % (
                language, line, run.returncode, run.stdout, run.stderr))
    print("reference examples: %d run, %d failed" % (len(found), failures))
    return 1 if failures or len(found) < 20 else 0


if __name__ == "__main__":
    sys.exit(main())
