"""Results with every float as its exact bits and every dict as its items in
order, for == comparisons that see order and bits."""

import math


def bits(value):
    if isinstance(value, float):
        return value.hex() if not math.isnan(value) else "nan"
    if isinstance(value, dict):
        return [(k, bits(v)) for k, v in value.items()]
    if isinstance(value, (list, tuple)):
        return type(value)(bits(v) for v in value)
    return value
