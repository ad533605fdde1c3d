#!/usr/bin/python3
"""A folder seen through FUSE with a fixed wait on each call that a file server would answer
over the network: the stamping benchmark's simulated share.

    latency_fs.py BACKING MOUNTPOINT [--delay MS] [--cache SECONDS] [--counts FILE]
                  [--keep-times exact|2s|none]

Runs in the foreground until unmounted (fusermount3 -u MOUNTPOINT); SIGINT, SIGTERM and SIGHUP
unmount it too. Needs Debian's python3-llfuse, hence /usr/bin/python3.

Built on libfuse's low-level interface: the high-level one (what fusepy wraps) drops a
setattr that changes only one of the two times, which is what Wine sends for SetFileTime with
no access time, so the file kept its time while the call reported success.
"""
import argparse
import errno
import functools
import os
import stat
import sys
import time

import llfuse

# Worker threads, each holding one call in flight: more than any stamping pool plus Wine's
# own callers, so that calls a server would overlap never queue here (libfuse's own
# multithreaded loop stops at 10).
WORKERS = 32


def _errors(handler):
    """llfuse lets only FUSEError out of a handler; anything else ends the main loop."""

    @functools.wraps(handler)
    def wrapped(*args):
        try:
            return handler(*args)
        except OSError as e:
            raise llfuse.FUSEError(e.errno or errno.EIO) from e

    return wrapped


class LatencyPassthrough(llfuse.Operations):
    """Mirrors a folder. Each handler runs with llfuse's global lock held, so the tables need
    no lock of their own; the wait alone lets it go, and so calls in flight overlap.

    Handlers left out (extended attributes, flush, locks) answer ENOSYS, after which the kernel
    stops asking: Wine's extended-attribute look-ups then fail with ENOTSUP and cost nothing, as
    a server answers them within the open.
    """

    def __init__(self, backing, delay, cache, counts, keep_times='exact'):
        super().__init__()
        self._keep_times = keep_times
        self._root = os.fsencode(os.path.realpath(backing))
        self._delay = delay
        self._cache = cache
        self._counts_path = counts
        self._counts = {}
        st = os.lstat(self._root)
        self._root_key = (st.st_dev, st.st_ino)
        # Inode numbers are handed out here, one per backing file, and kept for the mount's
        # life (forget is ignored): Wine tells files apart by them, so they must not change.
        self._numbers = {}
        self._paths = {llfuse.ROOT_INODE: self._root}
        self._next_number = llfuse.ROOT_INODE + 1
        self._listings = {}
        self._next_listing = 1

    # The round trip, on lookup, getattr, open, create, readdir and a setattr that changes a
    # time. Not on opendir and releasedir (a listing counts once, by its readdir), nor on
    # release, which the kernel sends without waiting for the answer; the rest is not made
    # per file when stamping, and passes straight through.
    def _wait(self, op):
        self._counts[op] = self._counts.get(op, 0) + 1
        if self._delay > 0:
            with llfuse.lock_released:
                time.sleep(self._delay)

    def _path(self, inode):
        try:
            return self._paths[inode]
        except KeyError:
            raise llfuse.FUSEError(errno.ESTALE) from None

    def _child(self, parent, name):
        if name == b'.':
            return self._path(parent)
        if name == b'..':
            return os.path.dirname(self._path(parent)) if parent != llfuse.ROOT_INODE \
                else self._root
        return os.path.join(self._path(parent), name)

    def _number(self, st):
        key = (st.st_dev, st.st_ino)
        if key == self._root_key:
            return llfuse.ROOT_INODE
        number = self._numbers.get(key)
        if number is None:
            number = self._numbers[key] = self._next_number
            self._next_number += 1
        return number

    def _entry(self, path):
        st = os.lstat(path)
        e = llfuse.EntryAttributes()
        e.st_ino = self._number(st)
        self._paths[e.st_ino] = path
        e.generation = 0
        e.entry_timeout = e.attr_timeout = self._cache
        for k in ('st_mode', 'st_nlink', 'st_uid', 'st_gid', 'st_rdev', 'st_size',
                  'st_blksize', 'st_blocks', 'st_atime_ns', 'st_mtime_ns', 'st_ctime_ns'):
            setattr(e, k, getattr(st, k))
        for k in ('st_atime_ns', 'st_mtime_ns', 'st_ctime_ns'):  # all it can tell
            setattr(e, k, self._kept(getattr(st, k)))
        return e

    def _kept(self, ns):
        """A time as this share keeps it: exactly, or to two seconds as a NAS or FAT does."""
        return ns - ns % 2000000000 if self._keep_times == '2s' else ns

    def destroy(self):
        if self._counts_path:
            with open(self._counts_path, 'w') as f:
                for op in sorted(self._counts):
                    f.write(f'{op} {self._counts[op]}\n')

    @_errors
    def lookup(self, parent, name, ctx):
        self._wait('lookup')
        return self._entry(self._child(parent, name))

    def forget(self, inode_list):
        pass

    @_errors
    def getattr(self, inode, ctx):
        self._wait('getattr')
        return self._entry(self._path(inode))

    @_errors
    def setattr(self, inode, attr, fields, fh, ctx):
        path = self._path(inode)
        # By the handle when there is one: the file may have lost its name since the open.
        target = fh if fh is not None else path
        if fields.update_mode:
            os.chmod(target, stat.S_IMODE(attr.st_mode))
        if fields.update_uid or fields.update_gid:
            os.chown(target, attr.st_uid if fields.update_uid else -1,
                     attr.st_gid if fields.update_gid else -1,
                     **({} if fh is not None else {'follow_symlinks': False}))
        if fields.update_size:
            os.truncate(target, attr.st_size)
        if fields.update_atime or fields.update_mtime:
            self._wait('utimens')
            old = None if fields.update_atime and fields.update_mtime else os.lstat(path)
            ns = (attr.st_atime_ns if fields.update_atime else old.st_atime_ns,
                  attr.st_mtime_ns if fields.update_mtime else old.st_mtime_ns)
            ns = tuple(self._kept(t) for t in ns)
            if self._keep_times == 'none':
                pass  # kept nothing, the call succeeding all the same
            elif fh is not None:
                os.utime(fh, ns=ns)
            else:
                os.utime(path, ns=ns, follow_symlinks=False)
        return self._entry(path)

    @_errors
    def access(self, inode, mode, ctx):
        return os.access(self._path(inode), mode)

    @_errors
    def statfs(self, ctx):
        sv = os.statvfs(self._root)
        d = llfuse.StatvfsData()
        for k in ('f_bsize', 'f_frsize', 'f_blocks', 'f_bfree', 'f_bavail', 'f_files',
                  'f_ffree', 'f_favail', 'f_namemax'):
            setattr(d, k, getattr(sv, k))
        return d

    @_errors
    def opendir(self, inode, ctx):
        path = self._path(inode)
        if not os.path.isdir(path):
            raise llfuse.FUSEError(errno.ENOTDIR)
        fh = self._next_listing
        self._next_listing += 1
        self._listings[fh] = (path, None)
        return fh

    @_errors
    def readdir(self, fh, off):
        path, names = self._listings[fh]
        if names is None:
            # Read once per open folder, so the offsets stay valid across the kernel's calls.
            self._wait('readdir')
            with os.scandir(path) as it:
                names = sorted(os.fsencode(e.name) for e in it)
            self._listings[fh] = (path, names)
        return self._entries(path, names, off)

    def _entries(self, path, names, off):
        for i in range(off, len(names)):
            try:
                e = self._entry(os.path.join(path, names[i]))
            except OSError:
                continue  # gone since the listing was read
            yield names[i], e, i + 1

    def releasedir(self, fh):
        self._listings.pop(fh, None)

    @_errors
    def open(self, inode, flags, ctx):
        self._wait('open')
        return os.open(self._path(inode), flags)

    @_errors
    def create(self, parent, name, mode, flags, ctx):
        self._wait('create')
        path = self._child(parent, name)
        fd = os.open(path, flags | os.O_CREAT, mode)
        return fd, self._entry(path)

    @_errors
    def read(self, fh, off, size):
        return os.pread(fh, size, off)

    @_errors
    def write(self, fh, off, buf):
        return os.pwrite(fh, buf, off)

    @_errors
    def fsync(self, fh, datasync):
        (os.fdatasync if datasync else os.fsync)(fh)

    @_errors
    def release(self, fh):
        os.close(fh)

    @_errors
    def mkdir(self, parent, name, mode, ctx):
        path = self._child(parent, name)
        os.mkdir(path, mode)
        return self._entry(path)

    @_errors
    def mknod(self, parent, name, mode, rdev, ctx):
        path = self._child(parent, name)
        os.mknod(path, mode, rdev)
        return self._entry(path)

    @_errors
    def symlink(self, parent, name, target, ctx):
        path = self._child(parent, name)
        os.symlink(target, path)
        return self._entry(path)

    @_errors
    def link(self, inode, new_parent, new_name, ctx):
        path = self._child(new_parent, new_name)
        os.link(self._path(inode), path)
        return self._entry(path)

    @_errors
    def readlink(self, inode, ctx):
        return os.readlink(self._path(inode))

    def _unlinked(self, path, number):
        if self._paths.get(number) == path:
            del self._paths[number]

    @_errors
    def unlink(self, parent, name, ctx):
        path = self._child(parent, name)
        number = self._number(os.lstat(path))
        os.unlink(path)
        self._unlinked(path, number)

    @_errors
    def rmdir(self, parent, name, ctx):
        path = self._child(parent, name)
        number = self._number(os.lstat(path))
        os.rmdir(path)
        self._unlinked(path, number)

    @_errors
    def rename(self, parent_old, name_old, parent_new, name_new, ctx):
        old = self._child(parent_old, name_old)
        new = self._child(parent_new, name_new)
        os.rename(old, new)
        # What was below a renamed folder is now below its new name.
        prefix = old + b'/'
        for number, path in list(self._paths.items()):
            if path == old:
                self._paths[number] = new
            elif path.startswith(prefix):
                self._paths[number] = new + path[len(old):]


def main():
    p = argparse.ArgumentParser(description='Mirrors BACKING at MOUNTPOINT, each server '
                                'call made to wait as over a network.')
    p.add_argument('backing')
    p.add_argument('mountpoint')
    p.add_argument('--delay', type=float, default=1.0,
                   help='milliseconds added to each lookup, getattr, open, create, readdir '
                   'and change of a time (default 1)')
    # Not 0: Wine then resolves every folder of a path again on each call, about 17 calls a
    # file and most of them on its server's one thread, where no client of a real share
    # spends them (SMB opens by the whole path, NFS keeps names). One second, libfuse's own
    # default, leaves about 4 a file: lookup, open, the change of time and now and then a
    # getattr.
    p.add_argument('--cache', type=float, default=1.0,
                   help='seconds the kernel may keep names and attributes (default 1)')
    p.add_argument('--counts', metavar='FILE',
                   help='on unmount, write how many calls of each kind waited')
    p.add_argument('--keep-times', choices=('exact', '2s', 'none'), default='exact',
                   help='what a change of time keeps: exactly, rounded down to two seconds, '
                   'or nothing while reporting success (default exact)')
    a = p.parse_args()
    if not os.path.isdir(a.backing):
        p.error(f'not a folder: {a.backing}')
    ops = LatencyPassthrough(a.backing, a.delay / 1000.0, a.cache, a.counts, a.keep_times)
    # No default_permissions: with it the kernel would fetch stale attributes again for its
    # own permission checks on every path walk, calls no server client makes.
    llfuse.init(ops, a.mountpoint, {'fsname=latency_fs', 'subtype=latency_fs'})
    signal_number = None
    try:
        signal_number = llfuse.main(workers=WORKERS)
    finally:
        # After a signal the mount is still there; after an unmount there is nothing to do.
        llfuse.close(unmount=signal_number is not None)
    return 0


if __name__ == '__main__':
    sys.exit(main())
