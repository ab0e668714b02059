"""The status bits of a host's line in a set line (the ``HOST Status`` columns).

A status is 0 (the host's line agrees) or a sum of these bits.
"""

#: The host has no line there; its cells are NaN.
MISSING = 1
#: The host's time differs from the master's by more than half a revolution.
TIME_OFF = 2
#: The host's speed differs from the master's by more than 1 %.
SPEED_OFF = 4

__all__ = ["MISSING", "TIME_OFF", "SPEED_OFF"]
