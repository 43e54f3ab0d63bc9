#!/usr/bin/python3
"""Checks every #include line of the libraries against the layers of the
project: which library may use which, and which system headers each may use.

usage: check_includes.py SOURCE_ROOT     check the tree, list every violation
       check_includes.py --self-test     plant violations in a scratch tree
                                         and check that each one is caught

A library is known by the folder (and, in platform/, the file name) of a
file; a quoted include names a header by its path from the source root, or
by its name alone for a header beside the including file.
"""
import os
import re
import sys
import tempfile

# What each library may include of the project's own headers.
ALLOWED = {
    'compo_decoder': {'compo_decoder'},
    'id3': {'id3', 'platform_core'},
    'platform_core': {'platform_core'},
    'platform_audio': {'platform_audio', 'platform_core'},
    'platform_qt': {'platform_qt', 'platform_core'},
    'compo': {'compo', 'compo_decoder', 'id3', 'platform_core', 'platform_audio'},
    'ctrlgrid': {'ctrlgrid'},
    'app_logic': {'app_logic', 'platform_core'},
    'app': {'app', 'app_logic', 'ctrlgrid', 'id3', 'compo', 'compo_decoder', 'platform_core', 'platform_audio',
            'platform_qt'},
    'tools': {'tools', 'id3', 'compo', 'compo_decoder', 'platform_core', 'app_logic'},
}

# Which system headers each library may include: 'std' is the C++ standard
# library alone; 'qt' adds Qt's headers; 'os' is anything but Qt; 'any' is
# anything. ALSA headers are for platform_audio alone.
SYSTEM = {
    'compo_decoder': 'std', 'compo': 'std', 'id3': 'std', 'tools': 'std', 'app_logic': 'std',
    'ctrlgrid': 'qt', 'app': 'qt',
    'platform_core': 'os', 'platform_audio': 'os', 'platform_qt': 'any',
}

STD_HEADERS = set('''
algorithm any array atomic barrier bit bitset cassert cctype cerrno cfenv cfloat charconv chrono cinttypes
climits clocale cmath codecvt compare complex concepts condition_variable coroutine csetjmp csignal cstdarg
cstddef cstdint cstdio cstdlib cstring ctime cuchar cwchar cwctype deque exception execution expected
filesystem format forward_list fstream functional future initializer_list iomanip ios iosfwd iostream istream
iterator latch limits list locale map memory memory_resource mutex new numbers numeric optional ostream queue
random ranges ratio regex scoped_allocator semaphore set shared_mutex source_location span sstream stack
stdexcept stop_token streambuf string string_view syncstream system_error thread tuple type_traits typeindex
typeinfo unordered_map unordered_set utility valarray variant vector version
'''.split())

# Compiler headers (no operating system behind them) that the decoder may
# use: the processor identification instruction for the detection, and the
# vector intrinsics of its x86 variants.
COMPILER_HEADERS = {'compo_decoder': {'cpuid.h', 'immintrin.h'}}

# platform/ holds three libraries; a file's name says which.
PLATFORM_AUDIO = ('waveout', 'threadpriority', 'alsa')
PLATFORM_QT = ('foldertree', 'filelist', 'qt')
# app/ keeps the logic the command-line tool shares with the window free of
# Qt; a file's name says which part it belongs to.
APP_LOGIC = ('cellcommands', 'specialedit', 'gridsort', 'renamerules')

CHECKED_FOLDERS = ('compo', 'id3', 'platform', 'ctrlgrid', 'app', 'tools')
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def library_of(path):
    """The library a file (path from the source root) belongs to, or None."""
    parts = path.split('/')
    if len(parts) < 2:
        return None
    top = parts[0]
    if top == 'compo':
        return 'compo_decoder' if len(parts) > 2 and parts[1] == 'mpeg' else 'compo'
    if top == 'platform':
        name = parts[-1]
        if name.startswith(PLATFORM_AUDIO):
            return 'platform_audio'
        if name.startswith(PLATFORM_QT):
            return 'platform_qt'
        return 'platform_core'
    if top == 'app':
        return 'app_logic' if parts[-1].startswith(APP_LOGIC) else 'app'
    if top in ('id3', 'ctrlgrid', 'tools'):
        return top
    return None


def system_header_allowed(library, header):
    kind = SYSTEM[library]
    if header.startswith('alsa/'):
        return library == 'platform_audio'
    if kind == 'any':
        return True
    is_qt = header.startswith('Q') or header.startswith('qt')
    if kind == 'os':
        return not is_qt
    if header in STD_HEADERS or header in COMPILER_HEADERS.get(library, ()):
        return True
    return kind == 'qt' and is_qt


def check_file(root, path):
    library = library_of(path)
    if library is None:
        return []
    problems = []
    with open(os.path.join(root, path), encoding='utf-8', errors='replace') as f:
        for number, line in enumerate(f, 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            kind, header = m.groups()
            where = '%s:%d: %s' % (path, number, line.strip())
            if kind == '<':
                if not system_header_allowed(library, header):
                    problems.append('%s: %s may not include the system header <%s>' % (where, library, header))
                continue
            target = header if '/' in header else os.path.join(os.path.dirname(path), header)
            used = library_of(target)
            if used is None:
                problems.append('%s: %s includes "%s", which is no library header' % (where, library, header))
            elif used not in ALLOWED[library]:
                problems.append('%s: %s may not use %s' % (where, library, used))
    return problems


def check_tree(root):
    problems = []
    for folder in CHECKED_FOLDERS:
        for dirpath, _, files in os.walk(os.path.join(root, folder)):
            for name in sorted(files):
                if name.endswith(('.h', '.cpp')):
                    path = os.path.relpath(os.path.join(dirpath, name), root)
                    problems += check_file(root, path)
    return problems


def self_test():
    """Each planted include must be reported, and the clean file must not."""
    planted = {
        'id3/bad_compo.cpp': '#include "compo/streamreader.h"\n',
        'compo/mpeg/bad_platform.cpp': '#include "platform/posixfile.h"\n',
        'compo/bad_qt.cpp': '#include <QString>\n',
        'compo/bad_os.cpp': '#include <unistd.h>\n',
        'app/bad_alsa.cpp': '#include <alsa/asoundlib.h>\n',
        'ctrlgrid/bad_id3.cpp': '#include "id3/mp3id.h"\n',
        'platform/bad_core.cpp': '#include "platform/waveout.h"\n',
        'tools/bad_app.cpp': '#include "app/Unit1.h"\n',
        'app/specialedit_bad_qt.cpp': '#include <QString>\n',
    }
    clean = {'compo/good.cpp': '#include "compo/mpeg/decoder.h"\n#include "id3/mp3id.h"\n#include <vector>\n'}
    with tempfile.TemporaryDirectory() as root:
        for path, text in list(planted.items()) + list(clean.items()):
            os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
            with open(os.path.join(root, path), 'w') as f:
                f.write(text)
        problems = check_tree(root)
    missed = [p for p in planted if not any(line.startswith(p + ':') for line in problems)]
    wrong = [line for line in problems if any(line.startswith(p + ':') for p in clean)]
    for line in problems:
        print('caught: ' + line)
    if missed or wrong:
        print('self-test FAILED: missed %s, wrongly reported %s' % (missed, wrong))
        return 1
    print('self-test passed: %d planted includes caught' % len(planted))
    return 0


def main():
    if len(sys.argv) == 2 and sys.argv[1] == '--self-test':
        return self_test()
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    problems = check_tree(sys.argv[1])
    for line in problems:
        print(line)
    if problems:
        print('%d include(s) cross a forbidden edge' % len(problems))
        return 1
    print('every include keeps to the layers')
    return 0


if __name__ == '__main__':
    sys.exit(main())
