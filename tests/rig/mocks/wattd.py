'''wattd's power budget service, as optad sees it.

Models the bus name "com.tavik.PowerControl.Consumer" with the object
"/com/tavik/PowerControl/Consumer" of interface
"com.tavik.PowerControl.Consumer": Register (sbsss) and RequestPower (ssd),
both answering with no value. After a RequestPower it grants power by
calling back, on the same bus, SetPower (d) on "com.tavik.ImcControl",
object "/com/tavik/ImcControl", interface "com.tavik.Configuration.Legacy".

The call back is made from the mock's main loop after the RequestPower reply
has gone out, and its answer is awaited asynchronously: optad calls
RequestPower synchronously and answers SetPower on another of its threads,
so a mock that called back inside RequestPower, or waited for the answer,
would hang both.

Driving it from a test:
  parameters (all optional)
    "grant"          watts granted after RequestPower (25.0, optad needs 16.0)
    "delay_ms"       wait before calling SetPower (0)
    "answer"         false: never call SetPower after RequestPower (true)
    "register_error", "request_error"
                     a D-Bus error name: Register / RequestPower reply with
                     that error instead ("" = no error)
  org.freedesktop.DBus.Mock methods
    SetGrant(d), SetDelay(u), SetAnswer(b)      the same, from now on
    SetError(s method, s error_name)            method "Register" or
                                                "RequestPower"; "" clears
    Grant(d watts)     a further grant: call SetPower(watts) now
    GetCallbacks() -> a(dss)  every SetPower made and how it ended, in order:
                              (watts, "" or the D-Bus error name, message)
  Register and RequestPower are recorded with their arguments (GetCalls,
  GetMethodCalls("RequestPower"), ClearCalls). Not starting the mock at all
  models a camera where wattd is down; stopping and starting it again, a
  wattd that restarts and knows no consumer until they register again.
  A wattd that hangs: "hang": true or SetHang(true) holds the answers to
  Register and RequestPower (and so the grant that follows a request),
  SetHang(false) gives them (hold.py).
'''

import os
import runpy
import types

import dbus
from gi.repository import GLib

from dbusmock import MOCK_IFACE

# The helper beside this template (templates are loaded from their path).
hold = types.SimpleNamespace(**runpy.run_path(os.path.join(os.path.dirname(__file__), 'hold.py')))
SetHang = hold.SetHang

SYSTEM_BUS = True
BUS_NAME = 'com.tavik.PowerControl.Consumer'
MAIN_OBJ = '/com/tavik/PowerControl/Consumer'
MAIN_IFACE = 'com.tavik.PowerControl.Consumer'

CONSUMER_NAME = 'com.tavik.ImcControl'
CONSUMER_OBJ = '/com/tavik/ImcControl'
CONSUMER_IFACE = 'com.tavik.Configuration.Legacy'

# How long a SetPower call back may wait for its answer.
CALLBACK_TIMEOUT_S = 25.0


def load(mock, parameters):
    mock.grant = float(parameters.get('grant', 25.0))
    mock.delay_ms = int(parameters.get('delay_ms', 0))
    mock.answer = bool(parameters.get('answer', True))
    mock.errors = {
        'Register': str(parameters.get('register_error', '')),
        'RequestPower': str(parameters.get('request_error', '')),
    }
    mock.callbacks = []
    hold.setup(mock, parameters)


def _fail_if_told(mock, method):
    name = mock.errors.get(method, '')
    if name:
        raise dbus.exceptions.DBusException(f'{method} refused by the test', name=name)


def _call_set_power(mock, watts):
    def done(*_):
        mock.callbacks.append((dbus.Double(watts), '', ''))

    def failed(error):
        mock.callbacks.append((dbus.Double(watts), error.get_dbus_name() or '', str(error)))

    mock.log(f'calling SetPower {watts}')
    mock.bus_name.get_bus().call_async(
        CONSUMER_NAME, CONSUMER_OBJ, CONSUMER_IFACE, 'SetPower', 'd', (dbus.Double(watts),),
        done, failed, timeout=CALLBACK_TIMEOUT_S)
    return False  # a one-shot GLib source


def _schedule_set_power(mock, watts, delay_ms):
    if delay_ms > 0:
        GLib.timeout_add(delay_ms, _call_set_power, mock, watts)
    else:
        GLib.idle_add(_call_set_power, mock, watts)


@dbus.service.method(MAIN_IFACE, in_signature='sbsss', out_signature='', async_callbacks=('reply', 'error'))
def Register(self, consumer, flag, bus_name, object_path, interface, reply, error):
    '''optad registers itself as a power consumer.'''
    _fail_if_told(self, 'Register')
    hold.answer(self, reply)


@dbus.service.method(MAIN_IFACE, in_signature='ssd', out_signature='', async_callbacks=('reply', 'error'))
def RequestPower(self, consumer, mode, watts, reply, error):
    '''optad asks for its power; the grant comes back through SetPower.'''
    _fail_if_told(self, 'RequestPower')

    def grant():
        if self.answer:
            _schedule_set_power(self, self.grant, self.delay_ms)

    hold.answer(self, reply, grant)


@dbus.service.method(MOCK_IFACE, in_signature='d', out_signature='')
def SetGrant(self, watts):
    self.grant = float(watts)


@dbus.service.method(MOCK_IFACE, in_signature='u', out_signature='')
def SetDelay(self, delay_ms):
    self.delay_ms = int(delay_ms)


@dbus.service.method(MOCK_IFACE, in_signature='b', out_signature='')
def SetAnswer(self, answer):
    self.answer = bool(answer)


@dbus.service.method(MOCK_IFACE, in_signature='ss', out_signature='')
def SetError(self, method, error_name):
    if method not in self.errors:
        raise dbus.exceptions.DBusException(f'no method {method}',
                                            name='org.freedesktop.DBus.Error.InvalidArgs')
    self.errors[method] = str(error_name)


@dbus.service.method(MOCK_IFACE, in_signature='d', out_signature='')
def Grant(self, watts):
    '''A later change of the budget: SetPower(watts) now.'''
    _schedule_set_power(self, float(watts), 0)


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='a(dss)')
def GetCallbacks(self):
    return dbus.Array(self.callbacks, signature='(dss)')
