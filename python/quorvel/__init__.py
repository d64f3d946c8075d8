"""Quorvel from Python: the library's classes created by name, their members
called by name.

    import quorvel
    d = quorvel.CreateObject("Scripting.Dictionary")
    d.Add("a", 1)
    d["b"] = 2.5
    print(d.Count, d.Item("a"), list(d.Keys()), len(d), "a" in d)

Reading an attribute calls the member of that name: a property that needs no
argument is read at once (``d.Count``), anything else comes back as a
callable (``d.Item("a")``). Assigning an attribute is Let, or Set when the
value is a library object. ``obj[k]`` and ``obj[k] = v`` use the default
member, ``del obj[k]`` calls ``Remove``, ``len`` reads ``Count``, ``in``
asks ``Exists`` (or walks the object), and ``for`` walks the elements, keys
or rows. Files and codecs refuse what they would lose unless a call says
``errors="replace"``. Failures raise ``quorvel.Error`` with the library's
number, source and description, and say the class and member.
"""

import enum

try:
    from quorvel import _quorvel
    from quorvel._version import __version__
except ImportError as _error:
    # Say which Python the extension was built for, which one runs, and
    # how to build, rather than Python's guess of a circular import.
    from quorvel._import_failure import describe as _describe

    raise ImportError(_describe(_error), name=__name__) from None

__all__ = [
    "Array",
    "CallType",
    "CreateObject",
    "ArgumentError",
    "Database",
    "Error",
    "ErrorValue",
    "InexactError",
    "InexactTextError",
    "KeyNotFoundError",
    "NumberOverflowError",
    "SubscriptError",
    "TypeMismatchError",
    "FilterCallback",
    "MemberError",
    "Missing",
    "Null",
    "Object",
    "SortCallback",
    "call_by_name",
    "member",
]


class Error(Exception):
    """A failure the library raised: its number, source and description
    (the library's own text). Raised by a call, it also says where:
    ``class_name`` and ``member`` (None when unknown) and, for error 450,
    ``expected`` (what the member takes, "1 argument") and ``given``."""

    class_name = None
    member = None
    expected = None
    given = None

    def __init__(self, number, source, description):
        # Not super(): past Error, a subclass's bases (UnicodeEncodeError)
        # take other arguments; Exception keeps the three for args.
        Exception.__init__(self, number, source, description)
        self.number = number
        self.source = source
        self.description = description

    def __str__(self):
        text = f"error {self.number} ({self.source}): {self.description}"
        if self.member is None:
            if self.class_name is not None:  # a class that could not be made
                text += f" (class {self.class_name!r})"
            return text
        if self.expected is not None:
            text += f" ({self.member} takes {self.expected}, {self.given} given)"
        if self.class_name is None:
            return f"{self.member}: {text}"
        return f"{self.class_name}.{self.member}: {text}"


class MemberError(Error, AttributeError):
    """Error 438: the object has no member of that name. It is also an
    AttributeError, so ``hasattr`` and ``getattr(obj, name, default)`` work."""


class ArgumentError(Error, ValueError):
    """Error 5, an invalid argument: among them a value a file or codec
    would not give back equal, refused before anything was written."""


class InexactError(ArgumentError):
    """A value that would not come back equal from the file or codec it was
    meant for (a number rounded, a kind it has no form for), refused before
    anything was written. ``where`` names the place in the value ("key",
    "field.path[2]"); empty for the value itself."""

    def __init__(self, number, source, description, where=""):
        super().__init__(number, source, description)
        self.where = where


class InexactTextError(InexactError, UnicodeEncodeError):
    """Text with a character the file or codec has no byte for. It is also
    a UnicodeEncodeError: ``encoding`` is "cp1252", ``object`` the text,
    ``start``/``end`` the character's place in it."""

    def __init__(self, number, source, description, where="", text="",
                 start=0, end=0):
        InexactError.__init__(self, number, source, description, where)
        self.encoding = "cp1252"
        self.object = text
        self.start = start
        self.end = end
        self.reason = description


class NumberOverflowError(Error, OverflowError):
    """Error 6: a number beyond what its kind holds."""


class SubscriptError(Error, IndexError):
    """Error 9: an index or a read outside what is there."""


class TypeMismatchError(Error, TypeError):
    """Error 13: a value of a kind the member cannot take."""


class KeyNotFoundError(Error, KeyError):
    """Error 32811: no element with that key."""

    def __str__(self):
        return Error.__str__(self)


# The class each number raises as; any other number raises Error.
_ERROR_CLASSES = {
    5: ArgumentError,
    6: NumberOverflowError,
    9: SubscriptError,
    13: TypeMismatchError,
    438: MemberError,
    32811: KeyNotFoundError,
}


class CallType(enum.IntEnum):
    """How ``call_by_name`` calls a member. Method and Get both read."""

    Method = 1
    Get = 2
    Let = 4
    Set = 8


class _NullType:
    """The library's Null: an explicit absence of data, unlike None (Empty)."""

    _instance = None

    def __new__(cls):
        if cls._instance is None:
            cls._instance = super().__new__(cls)
        return cls._instance

    def __repr__(self):
        return "quorvel.Null"

    def __bool__(self):
        return False

    def __reduce__(self):
        return (_NullType, ())


Null = _NullType()


class ErrorValue:
    """A Value of the Error kind: a 32-bit code. ``quorvel.Missing`` is the
    one the library uses, to leave an optional argument out."""

    __slots__ = ("code",)

    def __init__(self, code):
        # Kept as the library keeps it: a signed 32-bit number.
        self.code = (int(code) + (1 << 31)) % (1 << 32) - (1 << 31)

    def __eq__(self, other):
        return isinstance(other, ErrorValue) and other.code == self.code

    def __hash__(self):
        return hash(("quorvel.ErrorValue", self.code))

    def __repr__(self):
        if self is Missing:
            return "quorvel.Missing"
        return f"quorvel.ErrorValue({self.code & 0xFFFFFFFF:#x})"


Missing = ErrorValue(0x80020004)


class Array(list):
    """An array whose shape a plain list cannot tell: one that does not start
    at 0, or has more than one dimension. It is the nested lists of its
    elements (the first dimension outermost) and ``bounds``, one
    ``(lower, upper)`` pair per dimension. Passed back to the library it
    becomes an array of the same shape."""

    def __init__(self, items=(), bounds=None):
        super().__init__(items)
        if bounds is None:
            bounds = ((0, len(self) - 1),)
        self.bounds = tuple((int(lower), int(upper)) for lower, upper in bounds)

    def __repr__(self):
        return f"quorvel.Array({list.__repr__(self)}, bounds={self.bounds!r})"


class SortCallback:
    """Subclass and override ``Apply`` to hand a key selector or mapper to
    ``CArray.SortByKey`` and ``CArray.Map``; any other callable
    (``SortByKey(len)``, a lambda) is called the same way. An exception
    ``Apply`` raises comes out of the library call that called it,
    traceback and all."""

    def Apply(self, value):
        return None


class FilterCallback:
    """Subclass and override ``Test`` to hand a predicate to
    ``CArray.Filter``; any other callable passed to ``Filter`` is called the
    same way, and the truth of its result keeps the element."""

    def Test(self, value):
        return False


_PARAM_OPTIONAL = 1
_PARAM_ARRAY = 4


def _describe_member(class_name, member, params, kind, writable):
    """Returns the inspect.Signature and the docstring of a member, from the
    parameters its member table declares: ((name, flags), ...)."""
    import inspect

    P = inspect.Parameter
    parameters = []
    for name, flags in params:
        if flags & _PARAM_ARRAY:
            parameters.append(P(name, P.VAR_POSITIONAL))
        elif flags & _PARAM_OPTIONAL or any(p.default is not P.empty for p in parameters):
            parameters.append(P(name, P.POSITIONAL_OR_KEYWORD, default=Missing))
        else:
            parameters.append(P(name, P.POSITIONAL_OR_KEYWORD))
    parameters.append(P("errors", P.KEYWORD_ONLY, default=None))
    signature = inspect.Signature(parameters)
    if kind == "method":
        what = f"Calls the method {member} of the library's {class_name}."
    else:
        what = f"Reads the {kind} {member} of the library's {class_name}"
        what += "; assigning to it writes it." if writable else "."
    doc = (
        f"{member}{signature}\n\n{what} An optional parameter left out (or "
        "given quorvel.Missing) takes the member's own default. Files and "
        "codecs refuse what would not come back equal unless errors=\"replace\" "
        "asks for their lossy default."
    )
    return signature, doc


_quorvel._bind(
    Error=Error,
    error_classes=_ERROR_CLASSES,
    Null=Null,
    ErrorValue=ErrorValue,
    Missing=Missing,
    Array=Array,
    SortCallback=SortCallback,
    FilterCallback=FilterCallback,
    describe_member=_describe_member,
)

Object = _quorvel.Object
Database = _quorvel.Database


def CreateObject(class_name):
    """Creates a class of the library by name ("CArray",
    "Scripting.Dictionary", any letter case); raises Error 429 for a name
    that names no class."""
    return _quorvel.create_object(class_name)


def member(obj, name):
    """Returns the member ``name`` of ``obj`` as a callable (Method), with
    the docstring and ``inspect.signature`` its member table gives, also
    for a property that reading the attribute would read at once."""
    return _quorvel.member(obj, name)


def call_by_name(obj, name, call_type, *args, errors=None):
    """Calls the member ``name`` of ``obj`` explicitly: ``call_type`` is a
    CallType; for Let and Set the new value is the last argument.
    ``errors="replace"`` asks files and codecs for their lossy default."""
    return _quorvel.call_by_name(obj, name, int(call_type), *args, errors=errors)


# The modules on native Python data, imported when first named, so that
# `import quorvel` stays as quick as the late-bound objects need.
_MODULES = ("base64", "csv", "docs", "json", "kv", "lzss", "msgpack", "rc4",
            "verhoeff")


def __getattr__(name):
    if name in _MODULES:
        import importlib

        return importlib.import_module(f"quorvel.{name}")
    raise AttributeError(f"module 'quorvel' has no attribute {name!r}")
