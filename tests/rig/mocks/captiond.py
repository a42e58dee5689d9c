'''captiond's overlay service, as optad sees it.

Models the bus name "com.tavik.PrioritizedTextOverlay" with the object
"/com/tavik/PrioritizedTextOverlay/1" of interface
"com.tavik.PrioritizedTextOverlay": the methods Set (su), an overlay text
with its priority, and Unset (s), both answering with no value.

Driving it from a test: nothing to set up. Every Set and Unset is recorded
with its arguments, in order: org.freedesktop.DBus.Mock.GetCalls() and
GetMethodCalls("Set") read the record, ClearCalls() empties it. Stopping and
starting the mock again makes the service vanish and reappear on the bus
(optad then sends its overlays again).
'''

SYSTEM_BUS = True
BUS_NAME = 'com.tavik.PrioritizedTextOverlay'
MAIN_OBJ = '/com/tavik/PrioritizedTextOverlay/1'
MAIN_IFACE = 'com.tavik.PrioritizedTextOverlay'


def load(mock, parameters):
    mock.AddMethods(MAIN_IFACE, [
        ('Set', 'su', '', ''),
        ('Unset', 's', '', ''),
    ])
