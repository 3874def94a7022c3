"""Drives the mock notification server (python3-dbusmock's notification-daemon
template) on the session bus named by DBUS_SESSION_BUS_ADDRESS.

  ready            exit 0 once the server owns its name
  calls            the Notify calls so far, as one JSON array
  closes           the ids asked to close (CloseNotification), as one JSON array
  click ID [KEY]   the partner clicks notification ID (action KEY, "default")
  close ID REASON  the server closes notification ID
"""
import json
import sys

import dbus

NAME = "org.freedesktop.Notifications"
PATH = "/org/freedesktop/Notifications"
MOCK = "org.freedesktop.DBus.Mock"


def plain(value):
    if isinstance(value, (dbus.Byte, dbus.Int32, dbus.UInt32, dbus.Int64, dbus.UInt64, dbus.Int16, dbus.UInt16)):
        return int(value)
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, dbus.String):
        return str(value)
    if isinstance(value, dbus.Dictionary):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, (dbus.Array, list, tuple)):
        return [plain(v) for v in value]
    return value


def main():
    bus = dbus.SessionBus()
    command = sys.argv[1]
    if command == "ready":
        sys.exit(0 if bus.name_has_owner(NAME) else 1)
    mock = dbus.Interface(bus.get_object(NAME, PATH), MOCK)
    if command == "calls":
        calls = []
        for _, method, args in mock.GetCalls():
            if method != "Notify":
                continue
            app_name, replaces_id, icon, summary, body, actions, hints, timeout = (plain(a) for a in args)
            calls.append({"app_name": app_name, "replaces_id": replaces_id, "summary": summary, "body": body,
                          "actions": actions, "hints": hints, "expire_timeout": timeout})
        print(json.dumps(calls))
    elif command == "closes":
        print(json.dumps([int(args[0]) for _, method, args in mock.GetCalls() if method == "CloseNotification"]))
    elif command == "click":
        key = sys.argv[3] if len(sys.argv) > 3 else "default"
        mock.EmitSignal("", "ActionInvoked", "us", [dbus.UInt32(int(sys.argv[2])), key])
    elif command == "close":
        mock.EmitSignal("", "NotificationClosed", "uu", [dbus.UInt32(int(sys.argv[2])), dbus.UInt32(int(sys.argv[3]))])
    else:
        sys.exit("unknown command " + command)


main()
