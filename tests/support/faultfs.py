#!/usr/bin/python3
"""A FUSE file system for the platform tests: it serves a folder as it is and
can misbehave the way a worn card or a flaky reader does.

    faultfs.py FOLDER MOUNTPOINT [--ready FILE] [--direct-io]
               [--flip-middle once|always [--flip-only PATH]] [--corrupt-writes]
               [--fail-reads-after N]
               [--hang PATH]... [--hold FILE] [--delay SECONDS]
               [--stall OP:N --stalled FILE] [--no-links]
               [--threads] [--subtype NAME] [--no-statfs] [--log FILE]
               [--fail-listing PATH]...

--flip-middle once    the first read of the middle byte of a file returns it
                      with one bit flipped, as a flaky card reader does; later
                      reads are right
--flip-middle always  every read of it flips another bit, so that no two
                      reads agree, as a failing card does
--flip-only PATH      only the file PATH (as seen from the mount's root) is
                      read wrongly
                      With --log, each read of a middle byte is logged as
                      "flip PATH" when it was made wrong, else "middle PATH".
--corrupt-writes      every write stores one wrong byte, as a failing disk
                      does; the writer's own cached pages still hold the
                      right ones
--fail-reads-after N  reading a file beyond its first N bytes fails (EIO)
--direct-io           no page cache: every read reaches this process
--ready FILE          FILE is created once the file system is mounted
--hang PATH           a request about PATH or anything below it (PATH as seen
                      from the mount's root, "/" for all) does not answer: as
                      long as the --hold file exists, or for --delay seconds,
                      else never; like a locked phone or a stale mount
--stall OP:N          the Nth request OP (a FUSE operation: create, write,
                      fsync, rename, unlink, ...) is held while the --hold
                      file exists and then refused (EIO) without being
                      carried out: a program killed while it waits dies with
                      the request undone; --stalled FILE is created when it
                      is held
--no-links            hard links are refused (EPERM), as FAT, exFAT and NTFS
                      through FUSE refuse them
--threads             requests are served on threads of their own, as gvfs
                      does, so one that hangs does not hold up the others
--subtype NAME        the mount table gives the type fuse.NAME, as FUSE tools
                      such as jmtpfs do
--no-statfs           asking for the file system's size fails (EOPNOTSUPP)
--log FILE            every request is appended to FILE as "op path"
--fail-listing PATH   listing the folder PATH (as seen from the mount's root)
                      fails (EIO), as a damaged directory of a card does

Runs in the foreground until the file system is unmounted. Like every file
system served through the high-level FUSE 2 library, it has no no-replace
rename: renameat2 with RENAME_NOREPLACE fails with EINVAL on it.
"""

import argparse
import errno
import os
import sys
import threading
import time

import fusepy


class FaultFs(fusepy.Operations):
    def __init__(self, root, args):
        self.root = os.path.realpath(root)
        self.args = args
        self.lock = threading.Lock()
        self.flips = {}
        self.requests = {}
        self.stall_op, _, n = (args.stall or ":").partition(":")
        self.stall_n = int(n) if n else 0

    def _full(self, path):
        return os.path.join(self.root, path.lstrip("/"))

    def __call__(self, op, *args):
        # Every request passes here: it is logged, and one about a hung path waits.
        path = args[0] if args and isinstance(args[0], str) else None
        if op not in ("init", "destroy") and path is not None:
            if self.args.log:
                with open(self.args.log, "a") as f:
                    f.write("%s %s\n" % (op, path))
            if any(self._below(path, h) for h in self.args.hang):
                self._wait()
        if op == self.stall_op:
            with self.lock:
                self.requests[op] = self.requests.get(op, 0) + 1
                stall = self.requests[op] == self.stall_n
            if stall:
                if self.args.stalled:
                    with open(self.args.stalled, "w") as f:
                        f.write("%s %s\n" % (op, path))
                while self.args.hold and os.path.exists(self.args.hold):
                    time.sleep(0.05)
                raise fusepy.FuseOSError(errno.EIO)
        return super().__call__(op, *args)

    @staticmethod
    def _below(path, folder):
        folder = folder.rstrip("/")
        return folder == "" or path == folder or path.startswith(folder + "/")

    def _wait(self):
        if self.args.hold:
            while os.path.exists(self.args.hold):
                time.sleep(0.05)
        elif self.args.delay is not None:
            time.sleep(self.args.delay)
        else:
            threading.Event().wait()

    def init(self, path):
        if self.args.ready:
            with open(self.args.ready, "w") as f:
                f.write("mounted\n")

    def getattr(self, path, fh=None):
        st = os.lstat(self._full(path))
        keys = ("st_mode", "st_nlink", "st_uid", "st_gid", "st_size", "st_atime", "st_mtime", "st_ctime")
        attrs = {k: getattr(st, k) for k in keys}
        for k in ("st_atime", "st_mtime", "st_ctime"):
            attrs[k] = getattr(st, k + "_ns") / 1e9
        return attrs

    def readdir(self, path, fh):
        if path in self.args.fail_listing:
            raise fusepy.FuseOSError(errno.EIO)
        return [".", ".."] + os.listdir(self._full(path))

    def readlink(self, path):
        return os.readlink(self._full(path))

    def statfs(self, path):
        if self.args.no_statfs:
            raise fusepy.FuseOSError(errno.EOPNOTSUPP)
        st = os.statvfs(self._full(path))
        keys = ("f_bavail", "f_bfree", "f_blocks", "f_bsize", "f_favail", "f_ffree", "f_files", "f_flag",
                "f_frsize", "f_namemax")
        return {k: getattr(st, k) for k in keys}

    def access(self, path, mode):
        if not os.access(self._full(path), mode):
            raise fusepy.FuseOSError(errno.EACCES)

    def chmod(self, path, mode):
        os.chmod(self._full(path), mode)

    def chown(self, path, uid, gid):
        os.lchown(self._full(path), uid, gid)

    def utimens(self, path, times=None):
        if times is None:
            os.utime(self._full(path))
        else:
            os.utime(self._full(path), ns=tuple(int(t * 1e9) for t in times))

    def mkdir(self, path, mode):
        os.mkdir(self._full(path), mode)

    def rmdir(self, path):
        os.rmdir(self._full(path))

    def unlink(self, path):
        os.unlink(self._full(path))

    def rename(self, old, new):
        os.rename(self._full(old), self._full(new))

    def link(self, target, source):
        if self.args.no_links:
            raise fusepy.FuseOSError(errno.EPERM)
        os.link(self._full(source), self._full(target))

    def symlink(self, target, source):
        os.symlink(source, self._full(target))

    def open(self, path, flags):
        return os.open(self._full(path), flags)

    def create(self, path, mode, fi=None):
        # The caller may read what it writes (a copy that is verified).
        return os.open(self._full(path), os.O_RDWR | os.O_CREAT | os.O_EXCL, mode)

    def read(self, path, size, offset, fh):
        limit = self.args.fail_reads_after
        if limit is not None:
            if offset >= limit:
                raise fusepy.FuseOSError(errno.EIO)
            size = min(size, limit - offset)
        data = os.pread(fh, size, offset)
        middle = os.fstat(fh).st_size // 2
        if (self.args.flip_middle and offset <= middle < offset + len(data)
                and self.args.flip_only in (None, path)):
            with self.lock:
                reads = self.flips.get(path, 0)
                self.flips[path] = reads + 1
            flip = self.args.flip_middle == "always" or reads == 0
            if flip:
                at = middle - offset
                data = data[:at] + bytes([data[at] ^ (1 << (reads % 8))]) + data[at + 1:]
            if self.args.log:
                with open(self.args.log, "a") as f:
                    f.write("%s %s\n" % ("flip" if flip else "middle", path))
        return data

    def write(self, path, data, offset, fh):
        stored = data
        if self.args.corrupt_writes and data:
            at = len(data) // 2
            stored = data[:at] + bytes([data[at] ^ 0xA5]) + data[at + 1:]
        os.pwrite(fh, stored, offset)
        return len(data)

    def truncate(self, path, length, fh=None):
        with open(self._full(path), "r+b") as f:
            f.truncate(length)

    def flush(self, path, fh):
        return 0

    def fsync(self, path, datasync, fh):
        os.fsync(fh)
        return 0

    def release(self, path, fh):
        os.close(fh)
        return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("mountpoint")
    parser.add_argument("--ready")
    parser.add_argument("--direct-io", action="store_true")
    parser.add_argument("--flip-middle", choices=("once", "always"))
    parser.add_argument("--flip-only")
    parser.add_argument("--corrupt-writes", action="store_true")
    parser.add_argument("--fail-reads-after", type=int)
    parser.add_argument("--hang", action="append", default=[])
    parser.add_argument("--hold")
    parser.add_argument("--delay", type=float)
    parser.add_argument("--stall")
    parser.add_argument("--stalled")
    parser.add_argument("--no-links", action="store_true")
    parser.add_argument("--threads", action="store_true")
    parser.add_argument("--subtype")
    parser.add_argument("--no-statfs", action="store_true")
    parser.add_argument("--log")
    parser.add_argument("--fail-listing", action="append", default=[])
    args = parser.parse_args()
    # hard_remove: a name unlinked while open goes at once, as on a disk, instead of
    # lingering as .fuse_hidden* in the backing folder until the last close.
    options = {"foreground": True, "nothreads": not args.threads, "hard_remove": True}
    if args.direct_io:
        options["direct_io"] = True
    if args.subtype:
        options["subtype"] = args.subtype
    fusepy.FUSE(FaultFs(args.folder, args), args.mountpoint, **options)
    return 0


if __name__ == "__main__":
    sys.exit(main())
