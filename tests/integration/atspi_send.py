#!/usr/bin/python3
"""A send done as a screen reader's user does it, through the accessibility
bus (AT-SPI) alone: find the send dialog's controls by role and name in the
program's language, type a number, tick the cover page, type its text, press
Send, and hear the outcome in the status window.

  atspi_send.py MIRAVO JOBFILE LANG_INI LANGUAGE
"""
import os
import re
import subprocess
import sys
import time

import pyatspi

MIRAVO, JOB, LANG_INI, LANGUAGE = sys.argv[1:5]


def texts(path, code):
    """The language's texts by number, as the program reads them (hex form decoded)."""
    section, found = None, {}
    for line in open(path, 'rb').read().decode('utf-16').split('\r\n'):
        m = re.match(r'^\[(\w+)\]', line)
        if m:
            section = m.group(1).lower()
            continue
        if section in ('en', code) and '=' in line and not line.startswith(';'):
            key, value = (part.strip() for part in line.split('=', 1))
            if re.fullmatch(r'(?:[0-9A-F]{4})+', value):
                value = bytes.fromhex(value).decode('utf-16-le')
            if section == code or key not in found:
                found[key] = value
    return found


def plain(text):
    """A control's text as spoken: without its mnemonic mark."""
    return re.sub(r'\(&.\)|&(?=.)', '', text).replace('&&', '&')


TEXT = texts(LANG_INI, LANGUAGE)
NUMBER = plain(TEXT['107']) + ' 1'
COVER, COVER_TEXT, SEND, ALL_DELIVERED = (plain(TEXT[k]) for k in ('120', '651', '2', '490'))
STATUS_1 = plain(TEXT['12']).rstrip(':') + ' 1: '


def nodes(root, depth=0):
    if root is None or depth > 30:
        return
    yield root
    for child in root:
        yield from nodes(child, depth + 1)


def application():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == 'Miravo':
            return app
    return None


def wait_for(role, name, contains=False, seconds=60):
    end = time.time() + seconds
    while time.time() < end:
        app = application()
        for node in nodes(app) if app else ():
            try:
                if node.getRole() == role and (name in node.name if contains else node.name == name):
                    return node
            except Exception:  # a window closing while it is read
                pass
        time.sleep(0.3)
    names = []
    app = application()
    for node in nodes(app) if app else ():
        try:
            names.append(f'{node.getRoleName()} {node.name!r}')
        except Exception:
            pass
    sys.exit(f'FAIL: no {pyatspi.Role(role)} named {name!r}; seen: ' + '; '.join(names[:80]))


def press(node):
    action = node.queryAction()
    action.doAction(0)


env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON='1')
program = subprocess.Popen([MIRAVO, '--', JOB], env=env)
try:
    number = wait_for(pyatspi.ROLE_TEXT, NUMBER)
    number.queryEditableText().setTextContents('+49 30 1234567')
    cover = wait_for(pyatspi.ROLE_CHECK_BOX, COVER)
    press(cover)
    cover_text = wait_for(pyatspi.ROLE_TEXT, COVER_TEXT)
    cover_text.queryEditableText().setTextContents('Three pages follow.')
    press(wait_for(pyatspi.ROLE_PUSH_BUTTON, SEND))
    # The status window is named by the outcome, and the destination's row
    # says its final status with what it is ("Status 1: OK").
    window = wait_for(pyatspi.ROLE_DIALOG, ALL_DELIVERED, seconds=120)
    status = wait_for(pyatspi.ROLE_LABEL, STATUS_1, contains=True, seconds=10)
    print(f'PASS ({LANGUAGE}): heard {window.name!r} and {status.name!r}')
finally:
    program.terminate()
    try:
        program.wait(10)
    except subprocess.TimeoutExpired:
        program.kill()
