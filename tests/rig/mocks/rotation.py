'''The rotation service, as optad sees it.

Models the bus name "com.tavik.Rotation1" with the object
"/com/tavik/Rotation1/Channel/1" of interface "com.tavik.Rotation1.Channel":
the int32 property Rotation (degrees; read with
org.freedesktop.DBus.Properties.Get on that interface) and the signal
RotationChanged (i) with the new rotation.

Driving it from a test:
  parameters  {"Rotation": 0} (the default)
  org.freedesktop.DBus.Mock.SetRotation(i)  change it and emit
      RotationChanged(i)
  org.freedesktop.DBus.Mock.EmitSignal("com.tavik.Rotation1.Channel",
      "RotationChanged", <signature>, <args>)  a raw signal, also of another
      signature than (i)
'''

import dbus

from dbusmock import MOCK_IFACE

SYSTEM_BUS = True
BUS_NAME = 'com.tavik.Rotation1'
MAIN_OBJ = '/com/tavik/Rotation1/Channel/1'
MAIN_IFACE = 'com.tavik.Rotation1.Channel'


def load(mock, parameters):
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({
        'Rotation': dbus.Int32(parameters.get('Rotation', 0)),
    }, signature='sv'))


@dbus.service.method(MOCK_IFACE, in_signature='i', out_signature='')
def SetRotation(self, degrees):
    '''Sets Rotation and emits RotationChanged(i).'''
    self.props[MAIN_IFACE]['Rotation'] = dbus.Int32(degrees)
    self.EmitSignal(MAIN_IFACE, 'RotationChanged', 'i', [dbus.Int32(degrees)])
