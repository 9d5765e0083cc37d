"""A literal, slow pure-Python model of the native cores.

Each function follows the defined steps one by one, with no shortcut, so that
the native module can be compared against it on random graphs, floats bit
for bit and ordered lists in order.
"""
