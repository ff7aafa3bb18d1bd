"""Jobs over many frames: checking them and converting them to pictures, on
a local thread pool, a local process pool or the workers of a Dask cluster.

Frames are independent and the package's calls release the GIL, each thread
with its own codec context, so the work runs by default on a pool of
threads in this process, in batches of files (never one task per frame):
no processes, no ``if __name__ == "__main__":`` needed. ``processes=N``
runs it on N spawned processes instead (then a script keeps its top level
under the ``__main__`` guard): slower on 2 processors in every case
measured (python/bench/convert_bench.py), but a worker that crashes loses
only its batch, and on many processors the Python work each file does with
the GIL held may limit the threads. Dask workers may run several threads each. The workers
read and write the paths they are given: on a cluster, the files must be on
storage that every worker sees at the same path.

Errors belong to their file: ``verify`` reports them as ``quill info --json``
does (``{"file": ..., "error": ...}``), ``convert`` puts a ``FileError`` in
the place of the file's output; a batch that is lost as a whole (a worker
that dies) gives a ``FileError`` for each of its files. Arguments that are
wrong for every file (a path string given as the collection, a count that
is not positive, an out_dir that is a file) raise at once.
"""

import concurrent.futures
import errno
import functools
import io
import math
import multiprocessing
import os
import secrets
import stat

import numpy as np

import quill32

__all__ = ["Converted", "FileError", "convert", "verify"]

FORMATS = ("png", "bmp")
_MAX_BATCH = 64
PNG_LEVELS = range(0, 13)  # as quill's --png-level; zlib's levels stop at 9


class FileError(Exception):
    """A file that could not be done: ``file`` and ``reason``."""

    def __init__(self, file, reason):
        super().__init__(file, reason)
        self.file = file
        self.reason = reason

    def __str__(self):
        return "%s: %s" % (self.file, self.reason)


class Converted(str):
    """The path of an output ``convert`` made (a str), with ``file`` (its
    frame), ``written`` (False where no_clobber left an existing output as
    it was) and the frame's damage: ``damaged`` and ``problems`` (in words,
    as ``quill32.inspect`` gives them)."""

    def __new__(cls, output, file, problems=(), written=True):
        self = super().__new__(cls, output)
        self.file = file
        self.problems = list(problems)
        self.damaged = bool(self.problems)
        self.written = written
        return self

    def __reduce__(self):
        return (Converted, (str(self), self.file, self.problems, self.written))

    def kept(self):
        """The same output, marked as left as it was."""
        return Converted(str(self), self.file, self.problems, written=False)


def _os_reason(what, error):
    return "%s: %s" % (what, os.strerror(error.errno) if error.errno else str(error))


def _unexpected(error):
    return "failed: %s: %s" % (type(error).__name__, error)


def _read_frame(path):
    """The frame's bytes, or raises FileError with the reason as quill says it."""
    try:
        with open(path, "rb") as f:
            st = os.fstat(f.fileno())
            if stat.S_ISDIR(st.st_mode):
                raise FileError(path, "is a folder")
            if stat.S_ISREG(st.st_mode) and 0 < st.st_size != quill32.FRAME_BYTES:
                data = None
            else:
                data = f.read(quill32.FRAME_BYTES + 1)
    except IsADirectoryError:
        raise FileError(path, "is a folder") from None
    except OSError as e:
        raise FileError(path, _os_reason("cannot be read", e)) from None
    if data is None or len(data) != quill32.FRAME_BYTES:
        if data is None:
            said = "is %d bytes" % st.st_size
        elif len(data) > quill32.FRAME_BYTES:
            said = "is more than %d bytes" % quill32.FRAME_BYTES
        else:
            said = "is %d bytes" % len(data)
        raise FileError(path, said + "; a frame is exactly 24576 bytes")
    return data


def _verify_batch(paths):
    results = []
    for path in paths:
        try:
            results.append(dict({"file": path}, **quill32.inspect(_read_frame(path))))
        except FileError as e:
            results.append({"file": path, "error": e.reason})
        except Exception as e:  # whatever else goes wrong stays with its file
            results.append({"file": path, "error": _unexpected(e)})
    return results


def _bmp_header(width, height):
    """As Save2BMP writes it: the file header, then the DIB's (24-bit, rows
    bottom-up in BGR, each a multiple of 4 bytes at the frame's sizes)."""
    body = 3 * width * height
    header = b"BM" + (54 + body).to_bytes(4, "little") + bytes(4) + (54).to_bytes(4, "little")
    return header + (
        (40).to_bytes(4, "little")
        + width.to_bytes(4, "little")
        + height.to_bytes(4, "little")
        + (1).to_bytes(2, "little")
        + (24).to_bytes(2, "little")
        + bytes(4)
        + body.to_bytes(4, "little")
        + bytes(16)
    )


def _bmp_file(frame, size, sharpen):
    """The BMP file of a frame, the library decoding straight into its rows
    (BGR, bottom-up: a view with a negative row stride)."""
    width, height = size
    data = bytearray(54 + 3 * width * height)
    data[:54] = _bmp_header(width, height)
    rows = np.frombuffer(data, np.uint8, offset=54).reshape(height, width, 3)[::-1]
    quill32.decode(frame, size=size, sharpen=sharpen, mode="BGR", out=rows)
    return data


def _png_file(pixels, png_level=1):
    from PIL import Image

    out = io.BytesIO()
    Image.fromarray(pixels).save(out, format="PNG", compress_level=min(png_level, 9))
    return out.getvalue()


def _stage(path, data):
    """Writes `data` into a hidden temporary beside `path` (mode 0666 less the
    umask, or the mode of the file it will replace); returns its name."""
    folder, name = os.path.split(path)
    temporary = os.path.join(folder, ".%s.%s.tmp" % (name, secrets.token_hex(4)))
    fd = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o666)
    try:
        try:
            os.fchmod(fd, stat.S_IMODE(os.stat(path).st_mode))
        except FileNotFoundError:
            pass
        view = memoryview(data)
        while view:
            view = view[os.write(fd, view) :]
    except BaseException:
        os.close(fd)
        _remove(temporary)
        raise
    os.close(fd)
    return temporary


def _remove(path):
    try:
        os.unlink(path)
    except OSError:
        pass


@functools.lru_cache(maxsize=None)
def _syncfs():
    """The C library's syncfs(fd), where there is one (Linux)."""
    try:
        import ctypes

        function = ctypes.CDLL(None, use_errno=True).syncfs
    except (AttributeError, OSError, ImportError):
        return None
    function.argtypes = [ctypes.c_int]

    def syncfs(fd):
        if function(fd) != 0:
            error = ctypes.get_errno()
            raise OSError(error, os.strerror(error))

    return syncfs


def _sync_files(temporaries):
    """Makes the temporaries' bytes durable: one syncfs for each file system
    they are on (or an fsync each, where there is no syncfs). Returns the
    reason for each temporary that could not be made durable."""
    syncfs = _syncfs()
    failed, done = {}, {}
    for temporary in temporaries:
        try:
            fd = os.open(temporary, os.O_RDONLY | os.O_CLOEXEC)
            try:
                device = os.fstat(fd).st_dev
                if syncfs is None:
                    os.fsync(fd)
                elif device not in done:
                    try:
                        syncfs(fd)
                        done[device] = None
                    except OSError as e:
                        done[device] = _os_reason("cannot be made durable", e)
                if done.get(device):
                    failed[temporary] = done[device]
            finally:
                os.close(fd)
        except OSError as e:
            failed[temporary] = _os_reason("cannot be made durable", e)
    return failed


def _put_in_place(temporary, output, no_clobber):
    """Renames the temporary to output; with no_clobber, never over a file
    that is there (a hard link fails on one), and False when one was."""
    if not no_clobber:
        os.replace(temporary, output)
        return True
    try:
        os.link(temporary, output)
    except FileExistsError:
        return False
    except OSError as e:
        if e.errno not in (errno.EPERM, errno.ENOTSUP, errno.EOPNOTSUPP, errno.EMLINK):
            raise
        # No hard links here: the check and the rename are two steps.
        if os.path.lexists(output):
            return False
        os.replace(temporary, output)
        return True
    os.unlink(temporary)
    return True


def _sync_folder(folder):
    fd = os.open(folder or ".", os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)


def _decoded(path, output, size, fmt, sharpen, strict, png_level):
    """The picture file's bytes for one frame and the frame's problems, or
    raises FileError."""
    frame = _read_frame(path)
    problems = quill32.inspect(frame)["problems"]
    if problems and strict:
        raise FileError(path, "is damaged (%s)" % "; ".join(problems))
    try:
        if fmt == "bmp":
            data = _bmp_file(frame, size, sharpen)
        else:
            data = _png_file(quill32.decode(frame, size=size, sharpen=sharpen), png_level)
    except ValueError as e:
        raise FileError(path, str(e).replace("frame ", "", 1)) from None
    folder = os.path.dirname(output)
    try:
        os.makedirs(folder or ".", exist_ok=True)
    except OSError as e:
        raise FileError(path, _os_reason("cannot write into " + folder, e)) from None
    return data, problems


def _convert_batch(jobs, size, fmt, sharpen, strict=False, no_clobber=False, png_level=1):
    """As quill decode writes a batch: every output into its temporary, the
    temporaries made durable together, then each renamed into place, then
    the folders synced (so that a crash leaves each output old or new)."""
    results, staged = [], {}
    try:
        for i, (path, output) in enumerate(jobs):
            try:
                if no_clobber and os.path.lexists(output):
                    results.append(Converted(output, path, written=False))
                    continue
                data, problems = _decoded(path, output, size, fmt, sharpen, strict, png_level)
                try:
                    staged[i] = _stage(output, data)
                except OSError as e:
                    raise FileError(path, _os_reason("cannot be written to " + output, e)) from None
                results.append(Converted(output, path, problems))
            except FileError as e:
                results.append(e)
            except Exception as e:  # whatever else goes wrong stays with its file
                results.append(FileError(path, _unexpected(e)))
        unsynced = _sync_files(staged.values())
        folders = set()
        for i, temporary in list(staged.items()):
            path, output = jobs[i]
            if temporary in unsynced:
                results[i] = FileError(path, unsynced[temporary])
                continue
            try:
                if not _put_in_place(temporary, output, no_clobber):
                    results[i] = results[i].kept()
                    continue  # the temporary is removed below
            except OSError as e:
                results[i] = FileError(path, _os_reason("cannot be put in place as " + output, e))
                continue
            del staged[i]
            folders.add(os.path.dirname(output))
    finally:
        for temporary in staged.values():
            _remove(temporary)
    # The renames are durable once their folders are.
    for folder in folders:
        try:
            _sync_folder(folder)
        except OSError as e:
            for i, r in enumerate(results):
                if isinstance(r, Converted) and r.written and os.path.dirname(r) == folder:
                    results[i] = FileError(jobs[i][0], _os_reason("cannot be made durable", e))
    return results


def _batches(items, workers, batch_size):
    if batch_size is None:
        batch_size = min(_MAX_BATCH, max(1, math.ceil(len(items) / (4 * max(1, workers)))))
    return [items[i : i + batch_size] for i in range(0, len(items), batch_size)]


def _paths(paths):
    """The collection of paths as a list of str; a str, bytes or path given
    as the collection is refused (it would be taken a character at a time)."""
    if isinstance(paths, (str, bytes, os.PathLike)):
        raise TypeError(
            "paths must be a collection of paths, not a single %s: give [path]"
            % type(paths).__name__
        )
    return [os.fspath(p) for p in paths]


def _count(value, name):
    """`value` when it is None or a whole number of 1 or more."""
    if value is None:
        return None
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError("%s must be a whole number, not %s" % (name, type(value).__name__))
    if value < 1:
        raise ValueError("%s is %d; 1 or more is taken" % (name, value))
    return value


def _out_folder(out_dir):
    """out_dir, refused at once when it, or the nearest part of it that
    exists, is not a folder (rather than once per input)."""
    out_dir = os.fspath(out_dir)
    there = os.path.abspath(out_dir)
    while not os.path.lexists(there) and os.path.dirname(there) != there:
        there = os.path.dirname(there)
    if not os.path.isdir(there):
        raise NotADirectoryError(
            errno.ENOTDIR, "out_dir cannot be made a folder: %s is a file" % there, out_dir
        )
    return out_dir


def _run(function, items, client, processes, threads, batch_size, file_of):
    """Runs function(batch) over batches of items and joins the results in
    order; a batch that fails as a whole gives a FileError per item."""
    if processes is not None and threads is not None:
        raise ValueError("give processes or threads, not both")
    if not items:
        return []
    if client is not None:
        workers = sum(client.nthreads().values())
    else:
        workers = processes or threads or os.cpu_count() or 1
    batches = _batches(items, workers, batch_size)

    def lost(batch, error):
        reason = "lost with its batch: %s: %s" % (type(error).__name__, error)
        return [FileError(file_of(item), reason) for item in batch]

    results = []
    if client is not None:
        futures = client.map(function, batches, pure=False)
        for batch, future in zip(batches, futures):
            try:
                results.extend(future.result())
            except Exception as e:  # a worker died, a batch could not be sent back
                results.extend(lost(batch, e))
        return results
    if workers == 1 or len(batches) == 1:
        for batch in batches:
            results.extend(function(batch))
        return results
    if processes is None:
        pool = concurrent.futures.ThreadPoolExecutor(min(workers, len(batches)))
    else:
        # Spawned, not forked: a child that fork() made would start with
        # every lock that another thread of the caller held at that moment
        # (numpy's, the allocator's, a logging handler's, Dask's) taken.
        context = multiprocessing.get_context("spawn")
        pool = concurrent.futures.ProcessPoolExecutor(
            min(workers, len(batches)), mp_context=context
        )
    with pool:
        futures = [pool.submit(function, batch) for batch in batches]
        for batch, future in zip(batches, futures):
            try:
                results.extend(future.result())
            except Exception as e:
                results.extend(lost(batch, e))
    return results


def verify(paths, client=None, processes=None, batch_size=None, threads=None):
    """Checks every frame, as ``quill info --json`` does: one dict per path,
    in order, ``{"file": path, ...quill32.inspect(frame)}``, or
    ``{"file": path, "error": reason}`` for a file that is no frame.

    client: a ``dask.distributed.Client`` to spread the batches over its
    workers (each may run several threads); without one, a local pool of
    `threads` threads (default: one per processor; 1 works in this thread),
    or of `processes` spawned processes when that is given (1 works in this
    process); not both.
    """
    paths = _paths(paths)
    processes, batch_size = _count(processes, "processes"), _count(batch_size, "batch_size")
    threads = _count(threads, "threads")
    results = _run(_verify_batch, paths, client, processes, threads, batch_size, lambda p: p)
    return [
        {"file": r.file, "error": r.reason} if isinstance(r, FileError) else r for r in results
    ]


def convert(
    paths,
    out_dir,
    size=(320, 240),
    fmt="png",
    client=None,
    sharpen=False,
    processes=None,
    batch_size=None,
    root=None,
    strict=False,
    no_clobber=False,
    png_level=1,
    threads=None,
):
    """Decodes every frame into a picture file below out_dir, mirroring the
    frames' tree below `root` as ``quill decode -r -d`` does: with root
    ``/a``, ``/a/x/b.yuv`` -> ``out_dir/x/b.png``. root defaults to the
    frames' common parent folder (for frames of one folder, ``out_dir/b.png``);
    a frame outside root raises ValueError.

    size: (320, 240) or (640, 480); fmt: "png" or "bmp"; sharpen: the luma
    sharpening. strict: a damaged frame is a FileError ("is damaged (...)")
    instead of being decoded as it is. no_clobber: an existing output is left
    as it is (its result says ``written=False``). png_level: PNG compression,
    0 (stored) to 12 as quill's --png-level (zlib's levels stop at 9; 10 to
    12 are written as 9); default 1.

    Each output is written as ``quill decode`` writes it: into a hidden
    temporary beside it, made durable, then renamed into place (an existing
    file is replaced, keeping its mode). Two inputs that would write the
    same output, or an output that names an input, raise ValueError before
    any work; so do a str or bytes given as `paths` (TypeError), counts
    below 1 and an out_dir that is a file (NotADirectoryError).

    Returns one entry per path, in order: a ``Converted`` (the output's path,
    a str, with the frame's damage), or a FileError telling why that file
    failed. client, threads, processes, batch_size: as for ``verify``.
    """
    paths = _paths(paths)
    size = tuple(size)
    if size not in quill32.SIZES:
        raise ValueError("size is %s; (320, 240) or (640, 480) is taken" % (size,))
    if fmt not in FORMATS:
        raise ValueError("fmt is %r; %s is taken" % (fmt, " or ".join(map(repr, FORMATS))))
    if isinstance(png_level, bool) or png_level not in PNG_LEVELS:
        raise ValueError("png_level is %r; 0 to 12 is taken" % (png_level,))
    processes, batch_size = _count(processes, "processes"), _count(batch_size, "batch_size")
    threads = _count(threads, "threads")
    out_dir = _out_folder(out_dir)
    jobs = _jobs(paths, out_dir, fmt, root)
    work = functools.partial(
        _convert_batch,
        size=size,
        fmt=fmt,
        sharpen=bool(sharpen),
        strict=bool(strict),
        no_clobber=bool(no_clobber),
        png_level=png_level,
    )
    return _run(work, jobs, client, processes, threads, batch_size, lambda job: job[0])


def _jobs(paths, out_dir, fmt, root):
    """(frame, output) pairs, the frames' folders below root mirrored below
    out_dir; ValueError for a frame outside root, two frames with one output
    or an output that names a frame."""
    if not paths:
        return []
    folders = [os.path.dirname(os.path.abspath(p)) for p in paths]
    root = os.path.commonpath(folders) if root is None else os.path.abspath(os.fspath(root))
    jobs, seen = [], {}
    inputs = {os.path.realpath(p) for p in paths}
    for path, folder in zip(paths, folders):
        below = os.path.relpath(folder, root)
        if below == os.pardir or below.startswith(os.pardir + os.sep):
            raise ValueError("%s is not below root %s" % (path, root))
        stem = os.path.splitext(os.path.basename(os.path.abspath(path)))[0]
        output = os.path.normpath(os.path.join(out_dir, below, stem + "." + fmt))
        key = os.path.realpath(output)
        if key in seen:
            raise ValueError("%s and %s would both be written to %s" % (seen[key], path, output))
        if key in inputs:
            raise ValueError("%s would be written over an input" % output)
        seen[key] = path
        jobs.append((path, output))
    return jobs
