'''framerd's image pipeline service, as optad sees it.

Models the bus name "com.tavik.ImageControl" with the object
"/com/tavik/ImageControl/0/0", whose properties CaptureFrequency (a string,
"50Hz" or "60Hz") and CaptureMode (an int32, 1, 2 or 3) are read with
org.freedesktop.DBus.Properties.Get on the interface
"com.tavik.Configuration.Legacy" and announced with PropertiesChanged.

Driving it from a test:
  parameters  {"CaptureFrequency": "50Hz", "CaptureMode": 1} (the defaults)
  org.freedesktop.DBus.Mock.SetCaptureFrequency(s)  change it, emit
  org.freedesktop.DBus.Mock.SetCaptureMode(i)       PropertiesChanged
  org.freedesktop.DBus.Mock.EmitSignal(...)   any raw signal, also a
      PropertiesChanged with a wrong body
  org.freedesktop.DBus.Mock.UpdateProperties(...)   a change with a value of
      another type ("ay" for the frequency, say)
'''

import dbus

from dbusmock import MOCK_IFACE

SYSTEM_BUS = True
BUS_NAME = 'com.tavik.ImageControl'
MAIN_OBJ = '/com/tavik/ImageControl/0/0'
MAIN_IFACE = 'com.tavik.Configuration.Legacy'


def load(mock, parameters):
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({
        'CaptureFrequency': dbus.String(parameters.get('CaptureFrequency', '50Hz')),
        'CaptureMode': dbus.Int32(parameters.get('CaptureMode', 1)),
    }, signature='sv'))


def _change(mock, name, value):
    mock.props[MAIN_IFACE][name] = value
    mock.EmitSignal(dbus.PROPERTIES_IFACE, 'PropertiesChanged', 'sa{sv}as', [
        MAIN_IFACE, dbus.Dictionary({name: value}, signature='sv'), dbus.Array([], signature='s')])


@dbus.service.method(MOCK_IFACE, in_signature='s', out_signature='')
def SetCaptureFrequency(self, frequency):
    '''Sets CaptureFrequency and emits PropertiesChanged.'''
    _change(self, 'CaptureFrequency', dbus.String(frequency))


@dbus.service.method(MOCK_IFACE, in_signature='i', out_signature='')
def SetCaptureMode(self, mode):
    '''Sets CaptureMode and emits PropertiesChanged.'''
    _change(self, 'CaptureMode', dbus.Int32(mode))
