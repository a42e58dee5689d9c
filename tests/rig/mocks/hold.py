'''A service that takes calls and does not answer them, for the mocks.

Used by the mocks whose clients must not wait for a service that hangs (a
helper, not a mock of its own). A template that uses it
  - calls setup(mock, parameters) in its load(): the parameter "hang": true
    holds every answer from the start;
  - declares its methods with async_callbacks=('reply', 'error') and ends
    each with answer(self, reply[, then]): then, if given, runs once the
    answer has gone out;
  - publishes the control: SetHang = hold.SetHang.

  org.freedesktop.DBus.Mock.SetHang(b)  true: from now on take every call
      and answer none; false: answer the calls held so far, in order, and
      every later one at once
A call that fails (an error the test asked for) is answered at once either
way. Held calls stay recorded as every other call (GetCalls).
'''

import dbus

from dbusmock import MOCK_IFACE


def setup(mock, parameters):
    mock.hang = bool(parameters.get('hang', False))
    mock.held = []


def answer(mock, reply, then=None):
    if mock.hang:
        mock.held.append((reply, then))
        return
    reply()
    if then is not None:
        then()


@dbus.service.method(MOCK_IFACE, in_signature='b', out_signature='')
def SetHang(self, hang):
    '''Hold every answer (true) or answer the held calls and go on (false).'''
    self.hang = bool(hang)
    if self.hang:
        return
    held, self.held = self.held, []
    for reply, then in held:
        answer(self, reply, then)
