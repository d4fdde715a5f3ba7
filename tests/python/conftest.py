"""Fixtures of the Python suite: the emulator and the bus daemon as
processes, and pymodbus through the daemon as the independent look at the
node's registers, all from the support shared with the other Python suites.

ctest sets SN_SNSIM and SN_SNBUSD to the programs of the build tree, and
LD_LIBRARY_PATH and PYTHONPATH so that snlib runs from the tree and the
shared support is found.
"""

from processes import Registers, bus_node, start_bus, start_sim  # noqa: F401 (fixtures)
