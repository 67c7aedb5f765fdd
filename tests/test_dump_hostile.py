"""dump over values whose own Python code runs while they are written: every hook below empties
a container (the one being written, one inside it, its parent or the root) the first time it
runs. dump then writes the value as it read it, or raises one error naming the path; it never
crashes, reads freed memory or leaks."""

import pytest

import corvane
from conftest import traced_growth

dump = corvane.dump


class Strike:
    """The container the next hook empties, once; and how often hooks ran during a dump."""

    target = None
    calls = 0

    @classmethod
    def hit(cls):
        cls.calls += 1
        target, cls.target = cls.target, None
        if target is not None:
            target.clear()


class LessKey(str):
    def __lt__(self, other):
        Strike.hit()
        return str.__lt__(self, other)


class LessIntKey(int):
    def __lt__(self, other):
        Strike.hit()
        return int.__lt__(self, other)


class EqualKey(str):
    __hash__ = str.__hash__

    def __eq__(self, other):
        Strike.hit()
        return str.__eq__(self, other)


class HashKey(str):
    def __hash__(self):
        Strike.hit()
        return str.__hash__(self)


class ReprKey(str):
    def __repr__(self):
        Strike.hit()
        return str.__repr__(self)


class NamingMeta(type):
    @property
    def __name__(cls):
        Strike.hit()
        return "Opaque"


class Opaque(metaclass=NamingMeta):
    pass


class ItemsDict(dict):
    def items(self):
        pairs = list(dict.items(self))
        Strike.hit()
        return pairs


class IterList(list):
    def __iter__(self):
        items = iter(list.copy(self))
        Strike.hit()
        return items


class IndexInt(int):
    def __index__(self):
        Strike.hit()
        return int(self)


class FloatFloat(float):
    def __float__(self):
        Strike.hit()
        return float.__float__(self)


class Indent:
    def __index__(self):
        Strike.hit()
        return 4


class DelInt(int):
    def __del__(self):
        Strike.hit()


class FreshItemsDict(dict):
    """items() gives values made for the call, which only the writer then holds."""

    def items(self):
        return [(key, DelInt(value)) for key, value in dict.items(self)]


class DyingKey(str):
    def __del__(self):
        Strike.hit()


class Replacing(list):
    """Its iteration puts another key in place of the first of `owner` (given to the class, so
    that no cycle is left for the collector), which keeps its size."""

    owner = None

    def __iter__(self):
        owner, Replacing.owner = Replacing.owner, None
        del owner[next(iter(owner))]
        owner[fresh("c")] = 3
        return iter(list.copy(self))


class SwapsKeys(list):
    """Its iteration puts the key c in place of b in `owner` (given to the class), which keeps
    its size."""

    owner = None

    def __iter__(self):
        items = iter(list.copy(self))
        owner, SwapsKeys.owner = SwapsKeys.owner, None
        del owner["b"]
        owner[fresh("c")] = 3
        Strike.hit()
        return items


def fresh(text):
    """A str object of its own, not shared through interning with any other."""
    return "".join(list(text))


# What each hook is written in: how to make the container x and the container inside it (or
# None), and sort_keys.
def sorted_pair(key_class):
    def make():
        child = ["c"]
        return {key_class("b"): child, key_class("a"): 2}, child
    return make, True


def repr_path():
    child = {fresh("p q"): object()}
    return {ReprKey("x y"): child}, child


def unsupported_value():
    return {fresh("k k"): Opaque(), "other": 1}, None


def unsupported_key():
    return {Opaque(): 1}, None


def items_dict():
    child = ["c"]
    return ItemsDict(a=2, b=child), child


def iter_list():
    child = ["c"]
    return IterList([child, "d"]), child


def number_hooks():
    return {IndexInt(3): FloatFloat(0.5), FloatFloat(1.5): IndexInt(5)}, None


def deleted_values():
    return FreshItemsDict(a=7, b=2), None


def dying_key():
    # The key dies when the writer lets go of it, in the middle of the next entry.
    x = {DyingKey("k"): Replacing([1]), fresh("b"): {fresh("deep"): 1}}
    Replacing.owner = x
    return x, None


def swapped_keys():
    child = SwapsKeys([1])
    x = {fresh("a"): child, fresh("b"): 2}
    SwapsKeys.owner = x
    return x, child


HOOKS = {
    "str __lt__ (sort_keys)": sorted_pair(LessKey),
    "int __lt__ (sort_keys)": sorted_pair(lambda text: LessIntKey(ord(text) - ord("a") + 1)),
    "str __eq__ (sort_keys)": sorted_pair(EqualKey),
    "str __hash__ (sort_keys)": sorted_pair(HashKey),
    "key __repr__ in a path": (repr_path, False),
    "metaclass __name__ of a value": (unsupported_value, False),
    "metaclass __name__ of a key": (unsupported_key, False),
    "dict subclass items()": (items_dict, False),
    "dict subclass items() (sort_keys)": (items_dict, True),
    "list subclass __iter__": (iter_list, False),
    "__index__ and __float__": (number_hooks, False),
    "__index__ and __float__ (sort_keys)": (number_hooks, True),
    "__del__ of a value only the writer holds": (deleted_values, False),
    "__del__ of a key the writer lets go": (dying_key, False),
    "list subclass __iter__ swapping keys (sort_keys)": (swapped_keys, True),
}

# Written as read: x is {a: 2, b: [c]} (keys 1 and 2 for int keys) or [[c], d].
MAP = "root:\n  - a: 2\n    b:\n      - c\n  - after\nz: 1\n"
MAP_EMPTY_CHILD = "root:\n  - a: 2\n    b: []\n  - after\nz: 1\n"
INT_MAP_EMPTY_CHILD = MAP_EMPTY_CHILD.replace("a:", "1:").replace("b:", "2:")
SEQ = "root:\n  - - - c\n    - d\n  - after\nz: 1\n"
SEQ_EMPTY_CHILD = "root:\n  - - []\n    - d\n  - after\nz: 1\n"
NUMBERS = "root:\n  - 3: 0.5\n    1.5: 5\n  - after\nz: 1\n"
NUMBERS_SORTED = "root:\n  - 1.5: 5\n    3: 0.5\n  - after\nz: 1\n"
FRESH = "root:\n  - a: 7\n    b: 2\n  - after\nz: 1\n"

SELF_CHANGED = (RuntimeError, "dict changed size while written (at root[0])")
PARENT_CHANGED = (RuntimeError, "list changed size while written (at root)")
ROOT_CHANGED = (RuntimeError, "dict changed size while written (at the top level)")
REPR_PATH = (TypeError, "cannot write a value of type 'object' (at root[0]['x y']['p q'])")
VALUE_TYPE = (TypeError, "cannot write a value of type 'Opaque' (at root[0]['k k'])")
KEY_TYPE = (TypeError, "cannot write a key of type 'Opaque' (keys must be str, int, float, bool or None) "
                       "(at root[0])")

# hook, the container it empties, what dump gives.
HOSTILE = [
    ("str __lt__ (sort_keys)", "child", MAP_EMPTY_CHILD),
    ("str __lt__ (sort_keys)", "self", SELF_CHANGED),
    ("str __lt__ (sort_keys)", "parent", PARENT_CHANGED),
    ("str __lt__ (sort_keys)", "root", ROOT_CHANGED),
    ("int __lt__ (sort_keys)", "child", INT_MAP_EMPTY_CHILD),
    ("int __lt__ (sort_keys)", "self", SELF_CHANGED),
    ("int __lt__ (sort_keys)", "parent", PARENT_CHANGED),
    ("int __lt__ (sort_keys)", "root", ROOT_CHANGED),
    ("str __eq__ (sort_keys)", "child", MAP_EMPTY_CHILD),
    ("str __eq__ (sort_keys)", "self", SELF_CHANGED),
    ("str __eq__ (sort_keys)", "parent", PARENT_CHANGED),
    ("str __eq__ (sort_keys)", "root", ROOT_CHANGED),
    # The writer hashes no key of a subclass: the hook does not run.
    ("str __hash__ (sort_keys)", "child", MAP),
    ("str __hash__ (sort_keys)", "self", MAP),
    ("str __hash__ (sort_keys)", "parent", MAP),
    ("str __hash__ (sort_keys)", "root", MAP),
    ("key __repr__ in a path", "child", REPR_PATH),
    ("key __repr__ in a path", "self", REPR_PATH),
    ("key __repr__ in a path", "parent", REPR_PATH),
    ("key __repr__ in a path", "root", REPR_PATH),
    ("metaclass __name__ of a value", "self", VALUE_TYPE),
    ("metaclass __name__ of a value", "parent", VALUE_TYPE),
    ("metaclass __name__ of a value", "root", VALUE_TYPE),
    ("metaclass __name__ of a key", "self", KEY_TYPE),
    ("metaclass __name__ of a key", "parent", KEY_TYPE),
    ("metaclass __name__ of a key", "root", KEY_TYPE),
    # A subclass is written from what its own items() or iteration gave, taken first.
    ("dict subclass items()", "child", MAP_EMPTY_CHILD),
    ("dict subclass items()", "self", MAP),
    ("dict subclass items()", "parent", PARENT_CHANGED),
    ("dict subclass items()", "root", ROOT_CHANGED),
    ("dict subclass items() (sort_keys)", "child", MAP_EMPTY_CHILD),
    ("dict subclass items() (sort_keys)", "self", MAP),
    ("dict subclass items() (sort_keys)", "parent", PARENT_CHANGED),
    ("dict subclass items() (sort_keys)", "root", ROOT_CHANGED),
    ("list subclass __iter__", "child", SEQ_EMPTY_CHILD),
    ("list subclass __iter__", "self", SEQ),
    ("list subclass __iter__", "parent", PARENT_CHANGED),
    ("list subclass __iter__", "root", ROOT_CHANGED),
    # An int or float subclass is read as the number it holds: the hooks do not run.
    ("__index__ and __float__", "self", NUMBERS),
    ("__index__ and __float__", "parent", NUMBERS),
    ("__index__ and __float__", "root", NUMBERS),
    ("__index__ and __float__ (sort_keys)", "self", NUMBERS_SORTED),
    ("__index__ and __float__ (sort_keys)", "parent", NUMBERS_SORTED),
    ("__index__ and __float__ (sort_keys)", "root", NUMBERS_SORTED),
    # The values die when the writer leaves x, after x is written.
    ("__del__ of a value only the writer holds", "self", FRESH),
    ("__del__ of a value only the writer holds", "parent", PARENT_CHANGED),
    ("__del__ of a value only the writer holds", "root", ROOT_CHANGED),
    ("__del__ of a key the writer lets go", "self", SELF_CHANGED),
    ("__del__ of a key the writer lets go", "parent", PARENT_CHANGED),
    ("__del__ of a key the writer lets go", "root", ROOT_CHANGED),
    # A dict of plain keys is sorted by its keys, and each value found when its key comes.
    ("list subclass __iter__ swapping keys (sort_keys)", "child",
     (RuntimeError, "dict changed keys while written (at root[0])")),
    ("list subclass __iter__ swapping keys (sort_keys)", "self", SELF_CHANGED),
]


def run_case(hook, target):
    """Builds root = {root: [x, after], z: 1} with x the hook's container, arms the hook against
    `target`, and gives what dump returned or raised."""
    make, sort_keys = HOOKS[hook]
    x, child = make()
    parent = [x, fresh("after")]
    root = {fresh("root"): parent, fresh("z"): 1}
    Strike.target = {"child": child, "self": x, "parent": parent, "root": root}[target]
    # Only the containers hold what they hold, so that emptying one frees it.
    del x, child, parent
    Strike.calls = 0
    try:
        return dump(root, sort_keys=sort_keys)
    except (RuntimeError, TypeError) as error:
        return type(error), str(error)
    finally:
        Strike.target = None


@pytest.mark.parametrize("hook, target, outcome", HOSTILE, ids=[f"{h}-{t}" for h, t, _ in HOSTILE])
def test_hostile_hooks_give_the_documented_outcome(hook, target, outcome):
    assert run_case(hook, target) == outcome
    # Nothing is left behind: a reference kept to any container, key or value would add up.
    assert traced_growth(lambda: run_case(hook, target), 200) < 20_000


def test_every_hook_is_exercised():
    assert set(HOOKS) == {hook for hook, _, _ in HOSTILE}
    ran = set()
    for hook in HOOKS:
        run_case(hook, "self")
        if Strike.calls:
            ran.add(hook)
    # The writer reads numbers and hashes nothing; every other hook does run.
    assert ran == set(HOOKS) - {"str __hash__ (sort_keys)", "__index__ and __float__",
                                "__index__ and __float__ (sort_keys)"}


def test_indent_read_before_the_value():
    # The indent's own __index__ runs before anything is written, so what it changes is seen.
    root = {"a": [1]}
    Strike.target = root
    try:
        assert dump(root, indent=Indent()) == "{}\n"
    finally:
        Strike.target = None
