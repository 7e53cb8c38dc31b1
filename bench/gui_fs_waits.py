#!/usr/bin/python3
# SPDX-FileCopyrightText: 2026 The Wavelark developers
# SPDX-License-Identifier: GPL-3.0-or-later
"""Samples one thread's kernel wait every few milliseconds and sums its file-system waits.

usage: gui_fs_waits.py sample PID TID OUT [INTERVAL_MS]   (until SIGTERM; root reads the paths)
       gui_fs_waits.py settle PID TID SECONDS   (returns once the thread is out of such waits)
       gui_fs_waits.py report OUT MARKS
A sample counts as a file-system wait when the thread sleeps in a call that names a path
(open, stat, access, readlink, xattrs) or works on a descriptor of a file that is not a pipe,
socket or event counter (read, getdents, close). The wait is put down to the preview when it is
what the player does to a sample (a stat that follows links, an open or a read of a file with an
audio extension), else to the tree and the rest (listings lstat their entries). MARKS holds
'SECONDS NAME' lines: the phase each wait began in. VERBOSE=1 lists every wait of 50 ms or more.
"""
import os, signal, sys, time

PATH_ARG = {2: 0, 4: 0, 6: 0, 21: 0, 89: 0, 137: 0, 191: 0, 192: 0, 194: 0, 195: 0,
            257: 1, 262: 1, 267: 1, 269: 1, 332: 1, 437: 1, 439: 1}
FD_ARG = {0: 0, 3: 0, 5: 0, 8: 0, 17: 0, 19: 0, 78: 0, 138: 0, 193: 0, 196: 0, 217: 0, 295: 0}
AUDIO = ('.wav', '.wave', '.aif', '.aiff', '.aifc', '.caf', '.mp3', '.m4a', '.aac', '.mp4',
         '.flac', '.au', '.snd', '.ogg', '.oga')


def read(path):
    try:
        with open(path, 'rb') as f:
            return f.read()
    except OSError:
        return b''


def string_at(pid, address):
    try:
        with open('/proc/%d/mem' % pid, 'rb') as mem:
            mem.seek(address)
            return mem.read(4096).split(b'\0', 1)[0].decode('utf-8', 'replace')
    except (OSError, ValueError, OverflowError):
        return '?'


NOFOLLOW = 0x100  # AT_SYMLINK_NOFOLLOW
NAMES = {0: 'read', 2: 'open', 3: 'close', 4: 'stat', 6: 'lstat', 17: 'pread64', 21: 'access',
         89: 'readlink', 191: 'getxattr', 192: 'lgetxattr', 193: 'fgetxattr', 194: 'listxattr',
         195: 'llistxattr', 217: 'getdents64', 257: 'openat', 262: 'newfstatat', 332: 'statx'}


def call(pid, tid):
    """(syscall name, path) the thread is waiting in, or None when it waits for something else."""
    stat = read('/proc/%d/task/%d/stat' % (pid, tid))
    state = stat.rsplit(b')', 1)[-1].split()[:1]
    if state not in ([b'S'], [b'D']):
        return None
    fields = read('/proc/%d/task/%d/syscall' % (pid, tid)).split()
    if not fields or not fields[0].lstrip(b'-').isdigit():
        return None
    number = int(fields[0])
    args = [int(a, 16) for a in fields[1:7]]
    name = NAMES.get(number, str(number))
    # lstat-like calls list folders; stat-like ones follow the link to the file itself.
    if number in (262, 332):
        name = 'lstat' if args[2 if number == 332 else 3] & NOFOLLOW else 'stat'
    if number in PATH_ARG:
        return name, string_at(pid, args[PATH_ARG[number]])
    if number in FD_ARG:
        try:
            link = os.readlink('/proc/%d/fd/%d' % (pid, args[FD_ARG[number]]))
        except OSError:
            return None
        return (name, link) if link.startswith('/') else None
    return None


def sample(pid, tid, out, interval):
    running = [True]
    signal.signal(signal.SIGTERM, lambda *_: running.__setitem__(0, False))
    with open(out, 'w') as log:
        next_tick = time.monotonic()
        while running[0] and os.path.exists('/proc/%d' % pid):
            now = time.monotonic()
            waiting = call(pid, tid)
            wchan = read('/proc/%d/task/%d/wchan' % (pid, tid)).decode() or '-'
            if waiting is not None:
                log.write('%.4f\t%s\t%s\t%s\n' % (time.time(), wchan, waiting[0], waiting[1]))
            next_tick += interval
            time.sleep(max(0.0, next_tick - time.monotonic()))
            if now - next_tick > 1:  # the sampler itself was held up; do not catch up
                next_tick = time.monotonic()


def settle(pid, tid, limit):
    """Returns once the thread has been out of file-system waits for 50 ms, or after `limit` s."""
    end, quiet = time.monotonic() + limit, 0
    while quiet < 10 and time.monotonic() < end:
        quiet = quiet + 1 if call(pid, tid) is None else 0
        time.sleep(0.005)


def report(out, marks_file, interval=0.005, verbose=False):
    marks = []
    for line in open(marks_file):
        stamp, name = line.rstrip('\n').split(' ', 1)
        marks.append((float(stamp), name))
    waits = []  # [first, last, wchan, path]
    for line in open(out):
        stamp, wchan, name, path = line.rstrip('\n').split('\t', 3)
        stamp = float(stamp)
        # A late sample (the sampler shares the machine) does not end a wait.
        if waits and waits[-1][3:] == [name, path] and stamp - waits[-1][1] < 0.05:
            waits[-1][1] = stamp
        else:
            waits.append([stamp, stamp, wchan, name, path])
    totals = {}
    for first, last, wchan, name, path in waits:
        # What the player does to a sample: stat it following links, open it, read it.
        audio = path.lower().endswith(AUDIO)
        kind = 'preview' if audio and name in ('stat', 'open', 'openat', 'read', 'pread64') \
            else 'tree'
        phase = next((label for stamp, label in reversed(marks) if stamp <= first), 'start')
        length = last - first + interval
        if verbose and length >= 0.05:
            print('    %6.0f ms %-10s %-22s %s (during "%s")' % (length * 1000, name, wchan, path,
                                                              phase))
        for key in (kind, 'all'):
            longest, total, where = totals.get(key, (0.0, 0.0, ''))
            if length > longest:
                longest, where = length, '%s %s in %s (during "%s")' % (
                    name, wchan, os.path.basename(path) or path, phase)
            totals[key] = (longest, total + length, where)
    for key in ('all', 'preview', 'tree'):
        longest, total, where = totals.get(key, (0.0, 0.0, ''))
        print('  %-8s longest %7.0f ms  total %7.0f ms  %s' % (key, longest * 1000, total * 1000,
                                                           where))


if __name__ == '__main__':
    if sys.argv[1] == 'sample':
        interval = float(sys.argv[5]) / 1000 if len(sys.argv) > 5 else 0.005
        sample(int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], interval)
    elif sys.argv[1] == 'settle':
        settle(int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4]))
    else:
        report(sys.argv[2], sys.argv[3], verbose=os.environ.get('VERBOSE') == '1')
