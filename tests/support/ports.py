"""Ports for services under test, as tests/support/ServiceProcess.cpp hands them out: below the
kernel's ephemeral range (from 32768), so no outgoing connection takes one before the service
binds it, and reserved by an abstract Unix socket name that every test process, C++ or Python,
respects until this process ends."""
import random
import socket

_held = []  # the reservations, kept open for the life of the process


def _reserve(port):
    holder = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    try:
        holder.bind(f"\0wayfarer-test-port-{port}")
    except OSError:
        holder.close()
        return False
    _held.append(holder)
    return True


def _binds_as_the_service_would(port):
    # On every address and without SO_REUSEADDR: a port a connection in TIME_WAIT still holds
    # would fail the service's own bind.
    with socket.socket() as probe:
        try:
            probe.bind(("0.0.0.0", port))
            return True
        except OSError:
            return False


def free_port():
    for _ in range(1000):
        port = random.randrange(12000, 20000)
        if _reserve(port):
            if _binds_as_the_service_would(port):
                return port
            _held.pop().close()
    raise RuntimeError("no free port between 12000 and 19999")
