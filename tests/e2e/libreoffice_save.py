"""Opens a document in a headless LibreOffice, adds a paragraph and saves it
in place, as a person pressing Ctrl+S does: ``libreoffice_save.py FILE TEXT [SAVES]``.
Exit status 0 once every save returned; 1 with a message otherwise."""
import os
import subprocess
import sys
import tempfile
import time

import uno
from com.sun.star.beans import PropertyValue


def connect(pipe, soffice):
    local = uno.getComponentContext()
    resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
    for _ in range(600):
        if soffice.poll() is not None:
            raise RuntimeError("soffice ended with status %d" % soffice.returncode)
        try:
            return resolver.resolve("uno:pipe,name=%s;urp;StarOffice.ComponentContext" % pipe)
        except Exception:
            time.sleep(0.1)
    raise RuntimeError("soffice did not answer")


def main():
    path, text = sys.argv[1], sys.argv[2]
    saves = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    profile = tempfile.mkdtemp(prefix="ostrel-lo-profile-")
    pipe = "ostrel_lo_%d" % os.getpid()
    soffice = subprocess.Popen(["soffice", "--headless", "--invisible", "--norestore", "--nologo", "--nodefault",
                                "-env:UserInstallation=" + uno.systemPathToFileUrl(profile),
                                "--accept=pipe,name=%s;urp;" % pipe])
    try:
        context = connect(pipe, soffice)
        desktop = context.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", context)
        hidden = PropertyValue()
        hidden.Name, hidden.Value = "Hidden", True
        document = desktop.loadComponentFromURL(uno.systemPathToFileUrl(path), "_blank", 0, (hidden,))
        if document is None:
            raise RuntimeError("LibreOffice could not open " + path)
        for save in range(saves):
            body = document.getText()
            body.insertString(body.getEnd(), "%s %d" % (text, save + 1), False)
            document.store()
        document.close(True)
        try:
            desktop.terminate()
        except Exception:
            pass  # the bridge goes down with the office
        soffice.wait(timeout=60)
    except Exception as error:
        print(error, file=sys.stderr)
        soffice.kill()
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
