'''captiond's overlay service, as optad sees it.

Models the bus name "com.tavik.PrioritizedTextOverlay" with the object
"/com/tavik/PrioritizedTextOverlay/1" of interface
"com.tavik.PrioritizedTextOverlay": the methods Set (su), an overlay text
with its priority, and Unset (s), both answering with no value.

Driving it from a test: nothing to set up. Every Set and Unset is recorded
with its arguments, in order: org.freedesktop.DBus.Mock.GetCalls() and
GetMethodCalls("Set") read the record, ClearCalls() empties it. Stopping and
starting the mock again makes the service vanish and reappear on the bus
(optad then sends its overlays again). A service that hangs: the parameter
{"hang": true} or SetHang(true) makes it take every call and answer none,
SetHang(false) answers the held calls and the later ones (hold.py).
'''

import os
import runpy
import types

import dbus

SYSTEM_BUS = True
BUS_NAME = 'com.tavik.PrioritizedTextOverlay'
MAIN_OBJ = '/com/tavik/PrioritizedTextOverlay/1'
MAIN_IFACE = 'com.tavik.PrioritizedTextOverlay'


# The helper beside this template (templates are loaded from their path).
hold = types.SimpleNamespace(**runpy.run_path(os.path.join(os.path.dirname(__file__), 'hold.py')))
SetHang = hold.SetHang


def load(mock, parameters):
    hold.setup(mock, parameters)


@dbus.service.method(MAIN_IFACE, in_signature='su', out_signature='', async_callbacks=('reply', 'error'))
def Set(self, text_id, priority, reply, error):
    '''Shows an overlay text with its priority.'''
    hold.answer(self, reply)


@dbus.service.method(MAIN_IFACE, in_signature='s', out_signature='', async_callbacks=('reply', 'error'))
def Unset(self, text_id, reply, error):
    '''Takes an overlay text away.'''
    hold.answer(self, reply)
