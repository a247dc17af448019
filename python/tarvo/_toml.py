"""A model given as a dict, written as the text of a model file.

Each top-level key takes one line (tables inline); a list of tables takes one line per
entry, so that the reader's messages point at the entry that is wrong.
"""

import json
import math
import re

_BARE_KEY = re.compile(r"^[A-Za-z0-9_-]+$")


def _key(k):
    if not isinstance(k, str):
        raise TypeError(f"model keys are strings, not {type(k).__name__}: {k!r}")
    return k if _BARE_KEY.match(k) else json.dumps(k)


def _value(v):
    if isinstance(v, bool):
        return "true" if v else "false"
    if isinstance(v, int):
        return str(v)
    if isinstance(v, float):
        if math.isnan(v):
            return "nan"
        if math.isinf(v):
            return "inf" if v > 0 else "-inf"
        return repr(v)
    if isinstance(v, str):
        return json.dumps(v, ensure_ascii=False)
    if isinstance(v, dict):
        return "{ " + ", ".join(f"{_key(k)} = {_value(x)}" for k, x in v.items()) + " }"
    if isinstance(v, (list, tuple)):
        return "[" + ", ".join(_value(x) for x in v) + "]"
    if hasattr(v, "item"):  # a numpy scalar
        return _value(v.item())
    raise TypeError(f"a model value must be a number, string, bool, list or dict, "
                    f"not {type(v).__name__}: {v!r}")


def dumps(model):
    """The TOML text of a model dict (the structure of a model file)."""
    if not isinstance(model, dict):
        raise TypeError(f"a model is a dict, not {type(model).__name__}")
    lines = []
    for k, v in model.items():
        if isinstance(v, (list, tuple)) and v and all(isinstance(x, dict) for x in v):
            lines.append(f"{_key(k)} = [")
            lines.extend(f"  {_value(x)}," for x in v)
            lines.append("]")
        else:
            lines.append(f"{_key(k)} = {_value(v)}")
    return "\n".join(lines) + "\n"
