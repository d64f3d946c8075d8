"""What quorvel.kv and quorvel.docs share: the Python classes of the
stores' errors, closing with ``with``, and ``open``."""

import errno as _errno
from contextlib import contextmanager as _contextmanager

import quorvel
from quorvel import _native


class _StoreOSError(quorvel.Error):
    """A library error that is also one of Python's OSErrors: ``errno`` the
    one Python would give, ``strerror`` the description, ``filename`` the
    store's path."""

    _errno = 0

    def __init__(self, number, source, description, filename=None):
        super().__init__(number, source, description)
        self.args = (number, source, description)
        self.errno = self._errno
        self.strerror = description
        self.filename = filename


class StoreFileNotFoundError(_StoreOSError, FileNotFoundError):
    """A database file or its folder that is not there (errors 53 and 76),
    when the store may not create it."""

    _errno = _errno.ENOENT


class StorePermissionError(_StoreOSError, PermissionError):
    """A file the store may not use as asked (error 75): written when opened
    for reading only, or not a regular file."""

    _errno = _errno.EACCES


class StoreError(quorvel.Error, ValueError):
    """The stores' own failures (hex 800403E9): a store used after close()
    ("DB is not open"), a file that is no database of its kind, an id that
    ``add`` finds taken. Also a ValueError, as for a closed Python file."""

    def __init__(self, number, source, description, filename=None):
        super().__init__(number, source, description)
        self.filename = filename


_native.stores_bind({
    53: StoreFileNotFoundError,
    76: StoreFileNotFoundError,
    75: StorePermissionError,
    -2147220503: StoreError,
})


class Closing:
    """``with store:`` closes the store at the end of the block."""

    __slots__ = ()

    def __enter__(self):
        return self

    def __exit__(self, *exc_info):
        self.close()

    @_contextmanager
    def batch(self):
        """``with store.batch():`` holds the file's lock for the writes in
        the block, which then cost one lock and one header write in all and
        reach the file in large pieces: a bulk load runs many times faster.
        Other processes wait for the block to end. After a crash the file
        holds the block's writes up to some point, in order; they count as
        written when the block ends (also when it ends by an exception)."""
        self._begin_batch()
        try:
            yield self
        finally:
            self._commit_batch()

    def __repr__(self):
        state = "closed" if self.closed else "open"
        return f"<{type(self).__module__}.{type(self).__qualname__} {self.path!r} {state}>"


def opener(store_class, kind):
    """Returns the ``open`` of the module of ``store_class``, whose files are
    ``kind`` files."""

    def open(path, *, readonly=False, create=True, errors="strict"):
        return store_class(path, readonly=readonly, create=create, errors=errors)

    open.__module__ = store_class.__module__
    open.__qualname__ = "open"
    open.__doc__ = f"""Opens the {kind} file at ``path`` (str, bytes or os.PathLike) and
    returns it as a ``Store``; use it in ``with`` or call ``close()``.

    ``readonly`` refuses every write (``StorePermissionError``, also a
    PermissionError); a file this process may read but not write opens so
    anyway. A missing file is created as an empty one unless ``create`` is
    false or the store is read-only, when ``StoreFileNotFoundError`` (also a
    FileNotFoundError) is raised. A file that is no {kind} file raises
    ``StoreError`` (also a ValueError). ``errors="replace"`` takes the
    file's losses instead of refusing them (see the module)."""
    return open
