#!/usr/bin/python3
"""Counts the runs that leave a hidden temporary name behind after SIGKILL.

usage: hidden_name_window.py BREVLO FOLDER [RUNS] [FILES] [WINDOW_MS] [--fresh]

Makes FILES small GIFs in FOLDER/in, then RUNS times: fills FOLDER/k with an
existing output for each (unless --fresh), starts `BREVLO -q --force -o k in/*.gif`,
kills it with SIGKILL at a random moment in its first WINDOW_MS milliseconds,
and counts the runs after which FOLDER/k holds a name starting with .brevlo-.
"""
import os, random, signal, subprocess, sys, time, glob, shutil
from PIL import Image

brevlo, folder = sys.argv[1], sys.argv[2]
args = [a for a in sys.argv[3:] if not a.startswith('--')]
fresh = '--fresh' in sys.argv
runs = int(args[0]) if len(args) > 0 else 40
files = int(args[1]) if len(args) > 1 else 200
window = float(args[2]) if len(args) > 2 else 60.0
rng = random.Random(27)
inputs = os.path.join(folder, 'in')
os.makedirs(inputs, exist_ok=True)
for i in range(files):
    path = os.path.join(inputs, f'p{i:03}.gif')
    if not os.path.exists(path):
        img = Image.frombytes('P', (32, 32), bytes(rng.randrange(256) for _ in range(1024)))
        img.putpalette([c for i in range(256) for c in (i, 255 - i, i // 2)])
        img.save(path)
names = sorted(glob.glob(os.path.join(inputs, '*.gif')))
out = os.path.join(folder, 'k')
left = 0
for run in range(runs):
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    if not fresh:
        for n in names:
            with open(os.path.join(out, os.path.basename(n)[:-4] + '.bmp'), 'wb') as f:
                f.write(b'old')
    os.sync()
    child = subprocess.Popen([brevlo, '-q', '--force', '-o', out] + names)
    time.sleep(rng.uniform(0, window) / 1000)
    child.send_signal(signal.SIGKILL)
    child.wait()
    hidden = [n for n in os.listdir(out) if n.startswith('.brevlo-')]
    left += bool(hidden)
print(f'{left} of {runs} runs left a hidden name ({files} files, '
      f'{"no existing outputs" if fresh else "existing outputs"}, killed within {window:g} ms)')
