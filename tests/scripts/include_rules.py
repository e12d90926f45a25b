#!/usr/bin/env python3
"""The include rules of the sources: no file includes itself through others, no source unit
(a .cpp with its .hpp) reaches itself through the units it includes, and support/ (the
foundation) includes nothing from the folders above it."""
import os
import re
import sys

top = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..'))
folders = ['app', 'engine', 'pages', 'support', 'product', 'tools', 'bench', 'resources']
above_support = ('app/', 'engine/', 'pages/', 'product/', 'tools/', 'bench/')


def includes():
    graph = {}
    for folder in folders:
        for path, _, files in os.walk(os.path.join(top, folder)):
            for name in files:
                if not name.endswith(('.cpp', '.hpp', '.h')):
                    continue
                source = os.path.relpath(os.path.join(path, name), top).replace(os.sep, '/')
                with open(os.path.join(top, source), encoding='utf-8', errors='replace') as f:
                    named = re.findall(r'^\s*#\s*include\s+"([^"]+)"', f.read(), re.M)
                found = []
                for n in named:
                    for candidate in (n, os.path.normpath(os.path.join(os.path.dirname(source), n)).replace(os.sep, '/')):
                        if os.path.isfile(os.path.join(top, candidate)):
                            found.append(candidate)
                            break
                graph[source] = found
    return graph


def cycles(graph):
    state, found = {}, []

    def visit(node, stack):
        state[node] = 1
        stack.append(node)
        for nxt in sorted(graph.get(node, ())):
            if state.get(nxt) == 1:
                found.append(stack[stack.index(nxt):] + [nxt])
            elif nxt not in state:
                visit(nxt, stack)
        stack.pop()
        state[node] = 2

    for node in sorted(graph):
        if node not in state:
            visit(node, [])
    return found


def main():
    sys.setrecursionlimit(100000)
    graph = includes()
    failures = []
    for cycle in cycles(graph):
        failures.append('files include each other: ' + ' -> '.join(cycle))
    units = {}
    for source, targets in graph.items():
        unit = os.path.splitext(source)[0]
        units.setdefault(unit, set()).update(os.path.splitext(t)[0] for t in targets if os.path.splitext(t)[0] != unit)
    for cycle in cycles(units):
        failures.append('units reach themselves: ' + ' -> '.join(cycle))
    for source, targets in graph.items():
        if source.startswith('support/'):
            for t in targets:
                if t.startswith(above_support):
                    failures.append(f'{source} includes {t}, above the foundation')
    for f in failures:
        print('FAILED:', f)
    print(f'{len(graph)} files read')
    return 1 if failures or not graph else 0


if __name__ == '__main__':
    sys.exit(main())
