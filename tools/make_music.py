#!/usr/bin/python3
"""Synthesise the soundtrack of "Movra first demo" and encode it to MP3.

Usage (works from any directory; paths are relative to the repository root):

    /usr/bin/python3 tools/make_music.py                 # render, encode, check
    /usr/bin/python3 tools/make_music.py --keep-wav /tmp/master.wav
    /usr/bin/python3 tools/make_music.py --no-check      # skip tools/check_music.py
    /usr/bin/python3 tools/make_music.py --stats         # also print per-track levels

Needs Debian's python3 with numpy (apt-get install python3-numpy) and the
`lame` encoder (apt-get install lame).  Note: use /usr/bin/python3 explicitly
if another python3 without numpy comes first in PATH.

Output: data/sound/dovevivaz.mp3 (44.1 kHz stereo, CBR 160 kbit/s), encoded by
lame from a 16-bit WAV written by this tool.  Rendering takes under a minute.

Every sound here is built from oscillators and noise; all randomness comes
from generators with fixed seeds, so each run produces the same WAV.

The piece runs at 120 BPM (one bar = 2 s).  Music time = demo time - 1 s:

     0-28 s  night sea: D minor pads, harp arpeggio, flute tune, waves
    28-31 s  the chest: impact, sparkle, C -> D lift into E minor
    31-39 s  the pirate: taiko, brass hook, snare and noise build-up
    39-59 s  the cube: four-on-the-floor kick, off-beat bass, lead, pumping pads
    59-98 s  greetings and the end: calm E minor, bells, final E major, fade-out

The cube in the demo scales with the lowest FFT bin (DC..86 Hz) of a 512
sample window, so the kick drum's low end is kept in a measured range, and
the calm parts keep very little energy below ~90 Hz.  tools/check_music.py
decodes the MP3 and prints those readings per section.
"""

import argparse
import os
import subprocess
import sys
import wave

import numpy as np

SR = 44100
DUR = 98.0
N = int(round(SR * DUR))
BEAT = 0.5              # 120 BPM
S16 = BEAT / 4.0        # a sixteenth note
BAR = 4 * BEAT

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT_MP3 = os.path.join(ROOT, 'data', 'sound', 'dovevivaz.mp3')
BITRATE = 160
CEILING_DB = -1.5       # true sample ceiling of the 16-bit master

# ---------------------------------------------------------------- notes ---

_NOTE = {'C': 0, 'D': 2, 'E': 4, 'F': 5, 'G': 7, 'A': 9, 'B': 11}


def midi(name):
    semi = _NOTE[name[0].upper()]
    i = 1
    while i < len(name) and name[i] in '#b':
        semi += 1 if name[i] == '#' else -1
        i += 1
    return 12 * (int(name[i:]) + 1) + semi


def mtof(m):
    return 440.0 * 2.0 ** ((m - 69) / 12.0)


def hz(name):
    return mtof(midi(name))


def rng(seed):
    return np.random.default_rng(seed)


def pan_gains(pan):
    """Constant-power pan; a centred sound keeps unit gain in both channels."""
    th = (np.clip(pan, -1.0, 1.0) + 1.0) * np.pi / 4.0
    return np.cos(th) * np.sqrt(2.0), np.sin(th) * np.sqrt(2.0)


# -------------------------------------------------------------- filters ---

def lp(f, fc, order=2):
    return 1.0 / np.sqrt(1.0 + (f / fc) ** (2 * order))


def hp(f, fc, order=2):
    f = np.maximum(f, 1e-3)
    return 1.0 / np.sqrt(1.0 + (fc / f) ** (2 * order))


def fft_filter(x, gain_fn):
    """Zero-phase static filter: multiply the spectrum by gain_fn(freqs)."""
    n = x.shape[-1]
    nf = 1 << int(np.ceil(np.log2(n + 8192)))
    X = np.fft.rfft(x, nf)
    X *= gain_fn(np.fft.rfftfreq(nf, 1.0 / SR))
    return np.fft.irfft(X, nf)[..., :n]


def stft_filter(x, gain_fn, nfft=2048, hop=512):
    """Time-varying zero-phase filter.

    gain_fn(times, freqs) gets frame centre times (seconds, shape (F, 1)) and
    bin frequencies (shape (1, B)) and returns the gains (F, B)."""
    n = len(x)
    pad = nfft
    total = pad + n + pad + hop
    total += (-total) % hop
    xp = np.zeros(total)
    xp[pad:pad + n] = x
    nfr = (total - nfft) // hop + 1
    win = 0.5 - 0.5 * np.cos(2 * np.pi * np.arange(nfft) / nfft)
    frames = np.lib.stride_tricks.as_strided(
        xp, shape=(nfr, nfft), strides=(xp.strides[0] * hop, xp.strides[0]))
    times = (np.arange(nfr) * hop + nfft / 2 - pad) / SR
    freqs = np.fft.rfftfreq(nfft, 1.0 / SR)
    out = np.zeros(total)
    blocks = out.reshape(-1, hop)
    per = nfft // hop
    chunk = 1024
    for c0 in range(0, nfr, chunk):
        fr = frames[c0:c0 + chunk] * win
        X = np.fft.rfft(fr, axis=1)
        X *= gain_fn(times[c0:c0 + chunk, None], freqs[None, :])
        y = (np.fft.irfft(X, nfft, axis=1) * win).reshape(len(fr), per, hop)
        for j in range(per):
            blocks[c0 + j:c0 + j + len(fr)] += y[:, j, :]
    # periodic Hann squared, overlapped four times, sums to 1.5
    return out[pad:pad + n] / (1.5 * 4 / per)


def fft_convolve(x, h, n_out):
    nf = 1 << int(np.ceil(np.log2(len(x) + len(h))))
    y = np.fft.irfft(np.fft.rfft(x, nf) * np.fft.rfft(h, nf), nf)
    return y[:n_out]


def sliding_min(x, w):
    """Minimum over the centred window of odd length w (van Herk / Gil-Werman)."""
    h = w // 2
    xp = np.concatenate([np.full(h, np.inf), x, np.full(h + w, np.inf)])
    m = len(xp) // w
    xp = xp[:m * w].reshape(m, w)
    pre = np.minimum.accumulate(xp, axis=1).ravel()
    suf = np.minimum.accumulate(xp[:, ::-1], axis=1)[:, ::-1].ravel()
    idx = np.arange(len(x))
    return np.minimum(suf[idx], pre[idx + w - 1])


def moving_average(x, w):
    """Centred moving average of odd length w."""
    h = w // 2
    xp = np.concatenate([np.full(h, x[0]), x, np.full(h, x[-1])])
    c = np.concatenate([[0.0], np.cumsum(xp)])
    return (c[w:] - c[:-w]) / w


# ---------------------------------------------------------- envelopes ---

def adsr(dur, a=0.01, d=0.1, s=0.8, r=0.2):
    """Attack/decay/sustain while the note is held for dur s, then release r s."""
    n_on = max(1, int(dur * SR))
    n = n_on + max(1, int(r * SR))
    t = np.arange(n) / SR
    if a > 0:
        att = 0.5 - 0.5 * np.cos(np.pi * np.clip(t / a, 0.0, 1.0))
    else:
        att = np.ones(n)
    dec = s + (1.0 - s) * np.exp(-np.maximum(t - a, 0.0) / max(d, 1e-4))
    e = np.where(t < a, att, dec)
    level = e[n_on - 1]
    tr = t[n_on:] - t[n_on]
    e[n_on:] = level * (1.0 - tr / r) ** 2
    return e


def fade_edges(x, a=0.002, r=0.02):
    n = x.shape[-1]
    na, nr = min(int(a * SR), n // 2), min(int(r * SR), n // 2)
    if na > 0:
        x[..., :na] *= np.linspace(0.0, 1.0, na)
    if nr > 0:
        x[..., n - nr:] *= np.linspace(1.0, 0.0, nr)
    return x


# ---------------------------------------------------------- oscillators ---

def harmonic_amp(shape, h):
    if isinstance(shape, (list, tuple)):
        return shape[h - 1] if h <= len(shape) else 0.0
    if shape == 'saw':
        return 1.0 / h
    if shape == 'square':
        return 1.0 / h if h % 2 else 0.0
    if shape == 'tri':
        return ((-1) ** ((h - 1) // 2)) / (h * h) if h % 2 else 0.0
    raise ValueError(shape)


def osc(freq, shape='saw', cutoff=None, fmax=16000.0, phase=0.0, hcap=160):
    """Band-limited oscillator by additive synthesis.

    freq is a per-sample array; cutoff (None, scalar or per-sample array) is
    a smooth 24 dB/octave low-pass applied to each harmonic, so filter sweeps
    never alias."""
    f = np.asarray(freq, dtype=float)
    n = f.size
    ph = phase + 2 * np.pi * np.cumsum(f) / SR
    s_prev = np.zeros(n)
    s_cur = np.sin(ph)
    c2 = 2.0 * np.cos(ph)
    fpk, fmin = float(f.max()), float(f.min())
    H = max(1, int(fmax // fpk))
    if isinstance(shape, (list, tuple)):
        H = min(H, len(shape))
    r4 = None
    if cutoff is not None:
        cut = np.asarray(cutoff, dtype=float)
        H = min(H, int(4.0 * float(cut.max()) / fmin) + 1)
        if cut.ndim == 0 and np.ptp(f) == 0:
            r4 = float((f[0] / cut) ** 4)
        else:
            r4 = (f / cut) ** 4
    H = min(H, hcap)
    out = np.zeros(n)
    for h in range(1, H + 1):
        a = harmonic_amp(shape, h)
        if a != 0.0:
            g = a if r4 is None else a / np.sqrt(1.0 + h ** 4 * r4)
            if h * fpk > fmax - 2000.0:
                g = g * np.clip((fmax - h * f) / 2000.0, 0.0, 1.0)
            out += g * s_cur
        s_prev, s_cur = s_cur, c2 * s_cur - s_prev
    return out


def make_table(f0, shape='saw', cutoff=2000.0, size=4096, fmax=15500.0, phases=None):
    """One cycle of a filtered, band-limited wave for a note near f0."""
    k = np.arange(size) / size
    table = np.zeros(size)
    H = int(min(fmax / (f0 * 1.03), 4.0 * cutoff / f0 + 1, 200))
    for h in range(1, max(H, 1) + 1):
        a = harmonic_amp(shape, h) / np.sqrt(1.0 + (h * f0 / cutoff) ** 4)
        if a != 0.0:
            p = 0.0 if phases is None else phases[h % len(phases)]
            table += a * np.sin(2 * np.pi * h * k + p)
    return np.append(table, table[0])


def wt_osc(freq, table, phase=0.0):
    """Read a wavetable with linear interpolation at per-sample frequency freq."""
    size = len(table) - 1
    ph = (phase + np.cumsum(freq) / SR) % 1.0 * size
    i0 = ph.astype(np.int64)
    fr = ph - i0
    return table[i0] * (1.0 - fr) + table[i0 + 1] * fr


# ---------------------------------------------------------- instruments ---

def pad_note(f0, dur, seed, cutoff=1600.0, attack=1.2, release=2.2, voices=3,
             detune=0.11, width=0.85, shape='saw'):
    """Warm detuned pad; the voices are spread across the stereo field."""
    r = rng(seed)
    env = adsr(dur, attack, 0.8, 0.85, release)
    n = len(env)
    t = np.arange(n) / SR
    out = np.zeros((2, n))
    table = make_table(f0, shape, cutoff, phases=r.uniform(0, 2 * np.pi, 7))
    for v in range(voices):
        pos = (v - (voices - 1) / 2.0) / ((voices - 1) / 2.0) if voices > 1 else 0.0
        drift = 0.035 * np.sin(2 * np.pi * r.uniform(0.13, 0.37) * t + r.uniform(0, 2 * np.pi))
        f = f0 * 2.0 ** ((detune * pos + drift) / 12.0)
        x = wt_osc(f, table, r.uniform())
        gl, gr = pan_gains(width * pos)
        out[0] += gl * x
        out[1] += gr * x
    return out * env / voices


_pluck_cache = {}


def pluck(m, decay=0.9, bright=0.55, length=2.0):
    """Harp-like plucked string (additive, higher partials die faster)."""
    key = ('pluck', m, decay, bright, length)
    if key in _pluck_cache:
        return _pluck_cache[key]
    f0 = mtof(m)
    n = int(length * SR)
    t = np.arange(n) / SR
    r = rng(1000 + m)
    out = np.zeros(n)
    for h in range(1, 16):
        fh = f0 * h * np.sqrt(1.0 + 0.0002 * h * h)
        if fh > 14000:
            break
        a = abs(np.sin(np.pi * h * 0.21)) * bright ** (h - 1) / h ** 0.7
        tau = decay / (1.0 + 0.45 * (h - 1) ** 1.2)
        out += a * np.exp(-t / tau) * np.sin(2 * np.pi * fh * t + r.uniform(0, 0.3))
    out /= np.max(np.abs(out))
    out = fade_edges(out, 0.0015, 0.05)
    _pluck_cache[key] = out
    return out


_BELL = [(1.0, 1.0, 1.0), (2.0, 0.18, 0.55), (2.76, 0.5, 0.38),
         (5.40, 0.28, 0.2), (8.93, 0.12, 0.1)]


def bell(m, decay=2.2, length=4.0):
    """Glockenspiel / celesta-like bell."""
    key = ('bell', m, decay, length)
    if key in _pluck_cache:
        return _pluck_cache[key]
    f0 = mtof(m)
    n = int(length * SR)
    t = np.arange(n) / SR
    out = np.zeros(n)
    for ratio, amp, dk in _BELL:
        if f0 * ratio > 15000:
            continue
        out += amp * np.exp(-t / (decay * dk)) * np.sin(2 * np.pi * f0 * ratio * t)
    out = fade_edges(out / np.max(np.abs(out)), 0.001, 0.1)
    _pluck_cache[key] = out
    return out


def flute(f0, dur, seed):
    """Soft breathy flute with delayed vibrato."""
    r = rng(seed)
    env = adsr(dur, 0.09, 0.25, 0.85, 0.35)
    n = len(env)
    t = np.arange(n) / SR
    depth = 0.14 * np.clip((t - 0.25) / 0.5, 0.0, 1.0)
    f = f0 * 2.0 ** (depth * np.sin(2 * np.pi * 5.0 * t + r.uniform(0, 6.28)) / 12.0)
    tone = osc(f, [1.0, 0.2, 0.06, 0.025], phase=r.uniform(0, 6.28))
    noise = fft_filter(r.standard_normal(n), lambda fr: hp(fr, 1200, 2) * lp(fr, 5000, 2))
    noise /= np.std(noise) + 1e-12
    return tone * env + 0.025 * noise * env ** 1.5


def brass(f0, dur, seed, bright=2400.0, detune=0.07, vib=0.10):
    """Brass-like lead: two detuned saws, the filter opens on the attack."""
    r = rng(seed)
    env = adsr(dur, 0.025, 0.3, 0.75, 0.14)
    n = len(env)
    t = np.arange(n) / SR
    scoop = -0.3 * np.exp(-t / 0.03)
    v = vib * np.clip((t - 0.3) / 0.3, 0.0, 1.0) * np.sin(2 * np.pi * 5.3 * t)
    cut = 260.0 + bright * (1.0 - np.exp(-t / 0.045)) * (0.65 + 0.35 * np.exp(-t / 0.35))
    cut = np.maximum(cut * np.sqrt(env / env.max()), 200.0)
    out = np.zeros((2, n))
    for ch, d in ((0, -detune), (1, detune)):
        f = f0 * 2.0 ** ((scoop + v + d) / 12.0)
        out[ch] = osc(f, 'saw', cutoff=cut, phase=r.uniform(0, 6.28))
    return out * env


# a saw whose fundamental is held back, so the bass speaks in the 100-300 Hz
# range and leaves the lowest octave to the kick drum
BASS_WAVE = [0.45] + [1.0 / h for h in range(2, 120)]


def bass_note(f0, dur, cut0=900.0, sub=0.7, grit=0.55, a=0.003, s=0.7, r=0.04, wave='saw'):
    """Bass: sine sub plus a saw whose filter snaps shut."""
    env = adsr(dur, a, 0.15, s, r)
    n = len(env)
    t = np.arange(n) / SR
    cut = 170.0 + cut0 * np.exp(-t / 0.07)
    f = np.full(n, f0)
    x = grit * osc(f, wave, cutoff=cut) + sub * np.sin(2 * np.pi * f0 * t)
    return x * env


def kick(f_hi=165.0, f_lo=50.0, pitch_tau=0.03, decay=0.08, hold=0.02,
         length=0.45, drive=1.8, click=0.10, seed=7):
    """Kick drum: pitch-swept sine with a short click."""
    n = int(length * SR)
    t = np.arange(n) / SR
    f = f_lo + (f_hi - f_lo) * np.exp(-t / pitch_tau)
    ph = 2 * np.pi * np.cumsum(f) / SR
    env = (1.0 - np.exp(-t / 0.0012)) * np.exp(-np.maximum(t - hold, 0.0) / decay)
    body = np.tanh(drive * np.sin(ph) * env) / np.tanh(drive)
    r = rng(seed)
    cl = fft_filter(r.standard_normal(n) * np.exp(-t / 0.003),
                    lambda fr: hp(fr, 1500, 2) * lp(fr, 7000, 2))
    cl /= np.max(np.abs(cl)) + 1e-12
    return fade_edges(body + click * cl, 0.0005, 0.03)


def snare(seed=11, tone=0.5, length=0.32):
    n = int(length * SR)
    t = np.arange(n) / SR
    body = (np.sin(2 * np.pi * 185 * t) + 0.5 * np.sin(2 * np.pi * 330 * t)) * np.exp(-t / 0.05)
    r = rng(seed)
    nz = fft_filter(r.standard_normal(n), lambda f: hp(f, 1100, 2) * lp(f, 9500, 1))
    nz = nz / np.max(np.abs(nz)) * np.exp(-t / 0.085)
    return fade_edges(tone * body + nz, 0.0005, 0.03)


def clap(seed=12, length=0.4):
    n = int(length * SR)
    t = np.arange(n) / SR
    env = np.zeros(n)
    for k, d in enumerate((0.0, 0.011, 0.022)):
        tt = t - d
        env += np.where(tt >= 0, np.exp(-np.maximum(tt, 0) / 0.005), 0.0) * (0.8 if k < 2 else 1.0)
    env += np.where(t > 0.022, np.exp(-np.maximum(t - 0.022, 0) / 0.09), 0.0) * 0.7
    r = rng(seed)
    nz = fft_filter(r.standard_normal(n), lambda f: hp(f, 900, 2) * lp(f, 4500, 2))
    return fade_edges(nz / np.max(np.abs(nz)) * env, 0.0003, 0.04)


def hat(seed, decay=0.035, length=0.15, tone=7500.0):
    n = int(length * SR)
    t = np.arange(n) / SR
    r = rng(seed)
    nz = fft_filter(r.standard_normal(n), lambda f: hp(f, tone, 3) * lp(f, 15000, 2))
    return fade_edges(nz / np.max(np.abs(nz)) * np.exp(-t / decay), 0.0003, 0.02)


def crash(seed, length=3.5, decay=1.0):
    """Stereo cymbal crash."""
    n = int(length * SR)
    t = np.arange(n) / SR
    r = rng(seed)
    out = np.zeros((2, n))
    for ch in range(2):
        nz = fft_filter(r.standard_normal(n), lambda f: hp(f, 3200, 2) * lp(f, 13000, 1))
        nz /= np.max(np.abs(nz))
        # the high shimmer lingers, the body dies quickly
        out[ch] = nz * (0.55 * np.exp(-t / decay) + 0.45 * np.exp(-t / 0.15))
    return fade_edges(out, 0.0005, 0.3)


def taiko(f0=62.0, seed=21, length=0.9, decay=0.35):
    n = int(length * SR)
    t = np.arange(n) / SR
    f = f0 + 1.3 * f0 * np.exp(-t / 0.03)
    body = np.sin(2 * np.pi * np.cumsum(f) / SR) * np.exp(-t / decay)
    r = rng(seed)
    skin = fft_filter(r.standard_normal(n), lambda fr: hp(fr, 200, 1) * lp(fr, 1800, 2))
    skin = skin / np.max(np.abs(skin)) * np.exp(-t / 0.03)
    return fade_edges(body + 0.45 * skin, 0.0005, 0.05)


def tom(f0, seed=31):
    n = int(0.6 * SR)
    t = np.arange(n) / SR
    f = f0 * (1.0 + 0.6 * np.exp(-t / 0.04))
    body = np.sin(2 * np.pi * np.cumsum(f) / SR) * np.exp(-t / 0.22)
    r = rng(seed)
    sk = fft_filter(r.standard_normal(n), lambda fr: hp(fr, 400, 1) * lp(fr, 4000, 2))
    sk = sk / np.max(np.abs(sk)) * np.exp(-t / 0.02)
    return fade_edges(body + 0.3 * sk, 0.0005, 0.05)


def impact(seed=41, length=3.0):
    """Low boom for the chest reveal."""
    n = int(length * SR)
    t = np.arange(n) / SR
    f = 32.0 + 70.0 * np.exp(-t / 0.12)
    boom = np.sin(2 * np.pi * np.cumsum(f) / SR) * np.exp(-t / 0.7)
    r = rng(seed)
    thud = fft_filter(r.standard_normal(n), lambda fr: hp(fr, 60, 1) * lp(fr, 500, 2))
    thud = thud / np.max(np.abs(thud)) * np.exp(-t / 0.08)
    return fade_edges(np.tanh(1.5 * boom) + 0.5 * thud, 0.0005, 0.3)


def riser(dur, seed, f_start=250.0, f_end=9000.0, tone_from=None):
    """Noise sweep (and optionally a rising saw) growing towards dur."""
    n = int(dur * SR)
    r = rng(seed)
    out = np.zeros((2, n))

    def gain(times, freqs):
        p = np.clip(times / dur, 0.0, 1.0)
        fc = f_start * (f_end / f_start) ** p
        band = np.exp(-0.5 * (np.log2(np.maximum(freqs, 1.0) / fc) / 0.9) ** 2)
        return band * p ** 2 * hp(freqs, 150, 2)

    for ch in range(2):
        x = stft_filter(r.standard_normal(n), gain)
        out[ch] = x / (np.max(np.abs(x)) + 1e-12)
    if tone_from is not None:
        t = np.arange(n) / SR
        p = t / dur
        f = tone_from * 2.0 ** (2.0 * p ** 1.5)
        saw = osc(f, 'saw', cutoff=300.0 + 5000.0 * p ** 2)
        out += 0.5 * saw * p ** 2
    return fade_edges(out, 0.01, 0.01)


def waves(dur, seed, level=1.0):
    """Night sea: slow swells of filtered noise, each side on its own."""
    n = int(dur * SR)
    r = rng(seed)
    out = np.zeros((2, n))
    tt = np.arange(0, dur + 0.1, 0.01)
    for ch in range(2):
        swell = np.zeros_like(tt)
        t0 = r.uniform(-3.0, 0.5)
        while t0 < dur:
            rise, fall, amp = r.uniform(1.8, 3.0), r.uniform(3.0, 5.0), r.uniform(0.6, 1.0)
            x = tt - t0
            shape = np.where(x < 0, 0.0, np.where(x < rise, np.sin(0.5 * np.pi * x / max(rise, 1e-3)) ** 2,
                                                   np.exp(-(x - rise) / (fall / 3.0))))
            swell = np.maximum(swell, amp * shape)
            t0 += r.uniform(4.0, 6.5)

        def gain(times, freqs, swell=swell):
            s = np.interp(times, tt, swell)
            fc = 300.0 + 2600.0 * s ** 1.5
            return (0.12 + s) * hp(freqs, 170, 2) * lp(freqs, fc, 1) * lp(freqs, 9000, 2)

        x = stft_filter(r.standard_normal(n), gain)
        out[ch] = x
    out /= np.max(np.abs(out)) + 1e-12
    return fade_edges(out, 2.0, 3.0) * level


# ---------------------------------------------------------- the mix ---

class Mixer:
    def __init__(self):
        self.tracks = {}

    def buf(self, name):
        if name not in self.tracks:
            self.tracks[name] = np.zeros((2, N))
        return self.tracks[name]

    def add(self, name, t, sig, pan=0.0, gain=1.0):
        b = self.buf(name)
        if sig.ndim == 1:
            gl, gr = pan_gains(pan)
            sig = np.vstack([sig * gl, sig * gr])
        elif pan != 0.0:
            gl, gr = pan_gains(pan)
            sig = sig * np.array([[gl], [gr]])
        i0 = int(round(t * SR))
        s0 = 0
        if i0 < 0:
            s0, i0 = -i0, 0
        n = min(sig.shape[1] - s0, N - i0)
        if n > 0:
            b[:, i0:i0 + n] += gain * sig[:, s0:s0 + n]


def place_pads(mix, chords, track, seed, amp, **kw):
    """Hold each chord tone; a tone shared by consecutive chords is tied over."""
    events, active = [], {}
    for t0, t1, voicing in chords:
        notes = set(midi(x) for x in voicing.split())
        for m in list(active):
            if m not in notes or abs(active[m][1] - t0) > 1e-6:
                events.append((m, active[m][0], active.pop(m)[1]))
        for m in notes:
            if m in active:
                active[m][1] = t1
            else:
                active[m] = [t0, t1]
    for m, (a, b) in active.items():
        events.append((m, a, b))
    for i, (m, a, b) in enumerate(sorted(events, key=lambda e: (e[1], e[0]))):
        mix.add(track, a, pad_note(mtof(m), b - a, seed + i, **kw), gain=amp)


def chord_at(chords, t):
    for t0, t1, voicing in chords:
        if t0 <= t < t1:
            return voicing
    return None


def place_arp(mix, chords, t_start, t_end, step, pattern, amp, seed, octave=12,
              decay=0.9, bright=0.55, vel=None, track='arp', spread=0.45):
    r = rng(seed)
    t = t_start
    k = 0
    while t < t_end - 1e-9:
        voicing = chord_at(chords, t + 1e-6)
        if voicing is not None:
            tones = sorted(midi(x) + octave for x in voicing.split())
            idx = pattern[k % len(pattern)]
            if idx is not None:
                m = tones[idx % len(tones)] + 12 * (idx // len(tones))
                g = amp * (vel(t) if vel else 1.0) * (1.0 if k % 4 == 0 else 0.8) * r.uniform(0.85, 1.0)
                pan = spread * np.sin(0.9 * k)
                mix.add(track, t + r.uniform(0, 0.004), pluck(m, decay, bright), pan=pan, gain=g)
        k += 1
        t = t_start + k * step


def place_melody(mix, notes, inst, track, amp, seed, pan=0.0, **kw):
    for i, (t, d, name) in enumerate(notes):
        f0 = hz(name)
        if inst == 'flute':
            x = flute(f0, d, seed + i)
        elif inst == 'brass':
            x = brass(f0, d, seed + i, **kw)
        elif inst == 'bell':
            x = bell(midi(name), **kw)
        else:
            raise ValueError(inst)
        mix.add(track, t, x, pan=pan, gain=amp)


def bars16(bar_start, pattern):
    """Convert [(pos16, dur16, note), ...] inside a bar starting at bar_start."""
    return [(bar_start + p * S16, d * S16, name) for p, d, name in pattern]


# ---------------------------------------------------------- the score ---

OPEN_CHORDS = [
    (0.0, 4.0, 'D3 A3 C4 E4 F4'),      # Dm9
    (4.0, 8.0, 'Bb2 F3 A3 D4 F4'),     # Bbmaj7
    (8.0, 12.0, 'F2 C3 A3 C4 G4'),     # F add9
    (12.0, 16.0, 'C3 G3 A3 E4 G4'),    # C6
    (16.0, 20.0, 'D3 A3 C4 E4 F4'),    # Dm9
    (20.0, 24.0, 'Bb2 F3 A3 D4 F4'),   # Bbmaj7
    (24.0, 26.0, 'G2 D3 Bb3 F4 A4'),   # Gm9
    (26.0, 27.0, 'A2 E3 G3 D4 E4'),    # A7sus4
    (27.0, 28.0, 'A2 E3 G3 C#4 E4'),   # A7
]

OPEN_TUNE = [
    (12.0, 1.0, 'G4'), (13.0, 0.5, 'A4'), (13.5, 0.5, 'C5'), (14.0, 1.5, 'E5'), (15.5, 0.5, 'D5'),
    (16.0, 2.0, 'A4'), (18.0, 0.5, 'C5'), (18.5, 0.5, 'D5'), (19.0, 1.0, 'E5'),
    (20.0, 1.5, 'F5'), (21.5, 0.5, 'E5'), (22.0, 2.0, 'D5'),
    (24.0, 1.0, 'Bb4'), (25.0, 0.5, 'A4'), (25.5, 0.5, 'G4'), (26.0, 1.0, 'A4'), (27.0, 0.85, 'E5'),
]

TURN_CHORDS = [(28.0, 30.0, 'C3 G3 D4 E4 G4'), (30.0, 31.0, 'D3 A3 D4 F#4 A4')]

PIRATE_T0 = 31.0
PIRATE_CHORDS = [
    (31.0, 33.0, 'E3 B3 E4 G4 B4'),     # Em
    (33.0, 35.0, 'C3 G3 E4 G4 C5'),     # C
    (35.0, 37.0, 'D3 A3 D4 F#4 A4'),    # D
    (37.0, 39.0, 'B2 F#3 D#4 F#4 A4'),  # B7
]
PIRATE_ROOTS = ['E2', 'C2', 'D2', 'B1']

# the pirate hook, one bar per chord, in sixteenths
HOOK = [
    [(0, 3, 'B3'), (3, 1, 'E4'), (4, 2, 'E4'), (6, 2, 'F#4'), (8, 4, 'G4'), (12, 2, 'F#4'), (14, 2, 'E4')],
    [(0, 3, 'G4'), (3, 1, 'E4'), (4, 2, 'G4'), (6, 2, 'A4'), (8, 6, 'C5'), (14, 2, 'B4')],
    [(0, 3, 'A4'), (3, 1, 'F#4'), (4, 2, 'A4'), (6, 2, 'B4'), (8, 4, 'D5'), (12, 2, 'C5'), (14, 2, 'A4')],
    [(0, 6, 'B4'), (6, 2, 'A4'), (8, 4, 'F#4'), (12, 2, 'D#4'), (14, 2, 'F#4')],
]

BEAT_T0 = 39.0
BEAT_BARS = 10
BEAT_HARMONY = [
    ('E3 B3 E4 G4 B4', 'E2'), ('C3 G3 E4 G4 C5', 'C2'), ('D3 B3 D4 G4 B4', 'G2'),
    ('D3 A3 D4 F#4 A4', 'D2'), ('E3 B3 E4 G4 B4', 'E2'), ('C3 G3 E4 G4 C5', 'C2'),
    ('D3 B3 D4 G4 B4', 'G2'), ('D3 A3 D4 F#4 A4', 'D2'), ('E3 A3 C4 E4 A4', 'A1'),
    ('D#3 A3 B3 D#4 F#4', 'B1'),
]
BEAT_CHORDS = [(BEAT_T0 + i * BAR, BEAT_T0 + (i + 1) * BAR, c) for i, (c, _) in enumerate(BEAT_HARMONY)]

# the lead over the beat: the hook, then answered an octave higher
LEAD = [
    HOOK[0],
    HOOK[1],
    [(0, 3, 'B4'), (3, 1, 'G4'), (4, 2, 'B4'), (6, 2, 'C5'), (8, 6, 'D5'), (14, 2, 'B4')],
    [(0, 6, 'A4'), (6, 2, 'F#4'), (8, 4, 'A4'), (12, 4, 'D5')],
    [(0, 3, 'B4'), (3, 1, 'E5'), (4, 2, 'E5'), (6, 2, 'F#5'), (8, 4, 'G5'), (12, 2, 'F#5'), (14, 2, 'E5')],
    [(0, 3, 'G5'), (3, 1, 'E5'), (4, 2, 'G5'), (6, 2, 'A5'), (8, 6, 'C6'), (14, 2, 'B5')],
    [(0, 3, 'B5'), (3, 1, 'G5'), (4, 2, 'B5'), (6, 2, 'C6'), (8, 4, 'D6'), (12, 2, 'B5'), (14, 2, 'G5')],
    [(0, 6, 'A5'), (6, 2, 'F#5'), (8, 4, 'A5'), (12, 2, 'F#5'), (14, 2, 'D5')],
    [(0, 4, 'C6'), (4, 4, 'B5'), (8, 4, 'A5'), (12, 4, 'E5')],
    [(0, 8, 'D#5'), (8, 4, 'F#5'), (12, 4, 'B5')],
]

CLOSE_T0 = 59.0
CLOSE_CHORDS = [
    (59.0, 63.0, 'E3 B3 D4 F#4 G4'),    # Em9
    (63.0, 67.0, 'C3 G3 B3 E4 G4'),     # Cmaj7
    (67.0, 71.0, 'G2 D3 B3 D4 A4'),     # G add9
    (71.0, 73.0, 'D3 A3 D4 G4 A4'),     # Dsus4
    (73.0, 75.0, 'D3 A3 D4 F#4 A4'),    # D
    (75.0, 79.0, 'A2 E3 G3 B3 C4'),     # Am9
    (79.0, 81.0, 'B2 F#3 A3 E4'),       # B7sus4
    (81.0, 83.0, 'B2 F#3 A3 D#4'),      # B7
    (83.0, 92.0, 'E3 B3 G#3 D#4 F#4'),  # Emaj9
]
CLOSE_ROOTS = [(59.0, 4.0, 'E2'), (63.0, 4.0, 'C2'), (67.0, 4.0, 'G2'), (71.0, 4.0, 'D2'),
               (75.0, 4.0, 'A2'), (79.0, 4.0, 'B1'), (83.0, 7.0, 'E2')]

# the hook, slowed to half speed, on bells
CLOSE_BELLS = [(CLOSE_T0 + p * 2 * S16, d * 2 * S16, n) for p, d, n in
               [(0, 3, 'B5'), (3, 1, 'E6'), (4, 2, 'E6'), (6, 2, 'F#6'), (8, 4, 'G6'), (12, 2, 'F#6'), (14, 2, 'E6')]]

CLOSE_TUNE = [
    (63.0, 1.5, 'E5'), (64.5, 0.5, 'D5'), (65.0, 1.0, 'B4'), (66.0, 1.0, 'G4'),
    (67.0, 2.0, 'D5'), (69.0, 0.5, 'B4'), (69.5, 0.5, 'C5'), (70.0, 1.0, 'D5'),
    (71.0, 1.5, 'G5'), (72.5, 0.5, 'F#5'), (73.0, 1.0, 'D5'), (74.0, 1.0, 'A4'),
    (75.0, 1.5, 'C5'), (76.5, 0.5, 'B4'), (77.0, 1.0, 'A4'), (78.0, 0.5, 'G4'), (78.5, 0.5, 'A4'),
    (79.0, 2.0, 'B4'), (81.0, 1.0, 'A4'), (82.0, 1.0, 'D#5'),
    (83.0, 4.0, 'E5'),
]

END_BELLS = [(83.0, 'E5'), (83.5, 'G#5'), (84.0, 'B5'), (84.5, 'D#6'), (85.0, 'F#6'),
             (86.0, 'B5'), (87.0, 'E6')]


def compose(mix):
    # ---------------- opening: the ship on the night sea ----------------
    print('  opening', flush=True)
    place_pads(mix, OPEN_CHORDS, 'pad', 100, 0.056, cutoff=1400.0, attack=1.6, release=2.4)
    mix.add('waves', 0.0, waves(31.0, 501), gain=0.22)
    fade_in = lambda t: min(1.0, 0.35 + 0.65 * (t - 4.0) / 8.0)
    place_arp(mix, OPEN_CHORDS, 4.0, 28.0, 2 * S16, [0, 1, 2, 3, 4, 3, 2, 1], 0.075, 200,
              decay=1.1, bright=0.5, vel=fade_in)
    place_melody(mix, OPEN_TUNE, 'flute', 'flute', 0.12, 300, pan=0.1)
    # a soft shaker joins towards the turn
    for i in range(int((28.0 - 20.0) / S16)):
        t = 20.0 + i * S16
        g = 0.018 * (0.4 + 0.6 * (t - 20.0) / 8.0) * (1.0 if i % 2 else 0.55)
        mix.add('drums', t, hat(900 + i % 4, decay=0.02, tone=6000.0), pan=0.35, gain=g)

    # ---------------- the turn: the chest appears ----------------
    print('  turn', flush=True)
    rev = crash(601, length=2.5, decay=0.9)[:, ::-1]
    mix.add('fx', 28.0 - rev.shape[1] / SR, rev, gain=0.30)
    mix.add('fx', 25.5, riser(2.5, 602, 300.0, 7000.0), gain=0.12)
    mix.add('fx', 28.0, impact(603), gain=0.30)
    mix.add('fx', 28.0, crash(604, length=4.0, decay=1.4), gain=0.16)
    for i, name in enumerate('C3 G3 C4 E4 G4'.split()):
        mix.add('lead', 28.0, brass(hz(name), 0.45, 650 + i, bright=3000.0), gain=0.045)
    place_pads(mix, TURN_CHORDS, 'pad', 150, 0.075, cutoff=2200.0, attack=0.25, release=1.5)
    sparkle = 'C5 D5 E5 G5 A5 C6 D6 E6 G6 A6 C7'.split()
    for i, name in enumerate(sparkle):
        mix.add('bell', 28.05 + i * S16 / 2, bell(midi(name), decay=1.2), pan=-0.6 + 1.2 * i / 10, gain=0.05)
    for i, name in enumerate(reversed(sparkle[:-2])):
        mix.add('bell', 29.2 + i * S16, bell(midi(name), decay=1.0), pan=0.6 - 1.2 * i / 8, gain=0.025)
    # brass swell and snare roll on D into the pirate section
    for i, name in enumerate('D3 A3 D4 F#4'.split()):
        mix.add('lead', 30.0, brass(hz(name), 0.95, 660 + i, bright=2600.0), gain=0.03 + 0.005 * i)
    n_roll = 12
    for i in range(n_roll):
        t = 30.0 + i * (1.0 / n_roll)
        mix.add('drums', t, snare(700 + i % 3), pan=0.1, gain=0.06 + 0.12 * i / n_roll)
    mix.add('bass', 30.0, bass_note(hz('D2'), 0.95, cut0=500, sub=0.5), gain=0.18)
    for t, g in ((30.0, 0.7), (30.5, 0.8), (30.75, 1.0)):
        mix.add('drums', t, taiko(58.0, 29), gain=0.2 * g)

    # ---------------- the pirate ----------------
    print('  pirate', flush=True)
    mix.add('fx', 31.0, crash(611, length=3.0), gain=0.16)
    place_pads(mix, PIRATE_CHORDS, 'pad', 160, 0.07, cutoff=2600.0, attack=0.15, release=1.2)
    for b in range(4):
        t0 = PIRATE_T0 + b * BAR
        # brass hook, doubled an octave down
        place_melody(mix, bars16(t0, HOOK[b]), 'brass', 'lead', 0.095, 700 + 20 * b, bright=2800.0)
        low = [(p, d, '%s%d' % (n[:-1], int(n[-1]) - 1)) for p, d, n in HOOK[b]]
        place_melody(mix, bars16(t0, low), 'brass', 'lead', 0.055, 800 + 20 * b, bright=1500.0)
        # galloping bass
        root = hz(PIRATE_ROOTS[b])
        for p in (0, 3, 6, 8, 11, 14):
            mix.add('bass', t0 + p * S16, bass_note(root, 2.5 * S16, cut0=700, sub=0.55), gain=0.20)
        # taiko
        for p, g in ((0, 1.0), (3, 0.45), (6, 0.7), (8, 0.95), (11, 0.45), (14, 0.6)):
            mix.add('drums', t0 + p * S16, taiko(58.0 if p in (0, 8) else 72.0, 21 + p), gain=0.22 * g)
        if b < 3:
            for p in (4, 12):
                mix.add('drums', t0 + p * S16, snare(720 + p), pan=0.1, gain=0.16)
    # toms and a snare roll into the drop
    for i, (p, f) in enumerate(((8, 210.0), (10, 170.0), (12, 135.0), (14, 105.0))):
        mix.add('drums', PIRATE_T0 + 2 * BAR + p * S16, tom(f, 40 + i), pan=0.5 - 0.33 * i, gain=0.16)
    t_roll = PIRATE_T0 + 3 * BAR
    roll = [t_roll + i * S16 for i in range(8)] + [t_roll + 1.0 + i * S16 / 2 for i in range(16)]
    for i, t in enumerate(roll):
        mix.add('drums', t, snare(740 + i % 4), pan=0.1, gain=0.05 + 0.13 * i / len(roll))
    mix.add('fx', 35.0, riser(4.0, 612, 200.0, 10000.0, tone_from=hz('B3')), gain=0.10)
    for i, t in enumerate([37.0, 37.5, 38.0, 38.5, 38.75]):
        mix.add('kick', t, kick(), gain=0.45 + 0.08 * i)

    # ---------------- the beat: the spinning cube ----------------
    print('  beat', flush=True)
    r = rng(777)
    t_end = BEAT_T0 + BEAT_BARS * BAR
    mix.add('fx', BEAT_T0, crash(621, length=3.5), gain=0.2)
    for i in range(BEAT_BARS * 4):
        mix.add('kick', BEAT_T0 + i * BEAT, kick(), gain=1.0)
    for b, (voicing, root) in enumerate(BEAT_HARMONY):
        t0 = BEAT_T0 + b * BAR
        f0 = hz(root)
        for p in (2, 6, 10, 14):
            mix.add('bass', t0 + p * S16, bass_note(f0, 1.4 * S16, sub=0.1, grit=0.8, wave=BASS_WAVE), gain=0.50)
        if b % 2 == 1:
            mix.add('bass', t0 + 15 * S16, bass_note(f0 * 2, 0.8 * S16, sub=0.0, grit=0.8, wave=BASS_WAVE), gain=0.27)
        for beat in range(4):
            tb = t0 + beat * BEAT
            if beat in (1, 3):
                mix.add('drums', tb, clap(12), pan=0.05, gain=0.40)
                if b >= 4:
                    mix.add('drums', tb, snare(760), pan=0.05, gain=0.10)
            mix.add('drums', tb + 2 * S16, hat(950, decay=0.16, length=0.4), pan=-0.25, gain=0.14)
            for s in range(4):
                if s != 2:
                    acc = 1.0 if s == 0 else 0.6
                    mix.add('drums', tb + s * S16 + r.uniform(0, 0.003), hat(960 + s, decay=0.028),
                            pan=0.35, gain=0.095 * acc)
        place_melody(mix, bars16(t0, LEAD[b]), 'brass', 'lead', 0.085, 900 + 20 * b, bright=3400.0)
        if b >= 4:
            low = [(p, d, '%s%d' % (n[:-1], int(n[-1]) - 1)) for p, d, n in LEAD[b]]
            place_melody(mix, bars16(t0, low), 'brass', 'lead', 0.04, 1000 + 20 * b, bright=2000.0)
    place_pads(mix, BEAT_CHORDS, 'pad', 170, 0.065, cutoff=2400.0, attack=0.05, release=0.8)
    place_arp(mix, BEAT_CHORDS, BEAT_T0, t_end, S16, [0, 2, 4, 2, 1, 3, 5, 3], 0.085, 210,
              octave=12, decay=0.35, bright=0.6)
    # fill into the closing
    for i in range(8):
        mix.add('drums', t_end - 1.0 + i * S16, snare(780 + i % 3), pan=0.1, gain=0.05 + 0.06 * i / 8)
    mix.add('fx', t_end - 2.0, riser(2.0, 622, 400.0, 9000.0), gain=0.04)

    # ---------------- closing: greetings, then the end ----------------
    print('  closing', flush=True)
    mix.add('fx', CLOSE_T0, crash(631, length=4.0, decay=1.6), gain=0.18)
    mix.add('kick', CLOSE_T0, kick(), gain=0.9)
    place_pads(mix, CLOSE_CHORDS, 'pad', 180, 0.056, cutoff=1500.0, attack=1.0, release=3.5)
    for t, d, name in CLOSE_ROOTS:
        mix.add('bass', t, bass_note(hz(name), d, cut0=250, sub=0.7, grit=0.3, a=0.4, s=0.8, r=1.5),
                gain=0.09)
    fade_arp = lambda t: float(np.clip((92.0 - t) / 16.0, 0.15, 1.0))
    place_arp(mix, CLOSE_CHORDS, CLOSE_T0, 91.0, 2 * S16, [0, 1, 2, 3, 4, 3, 2, 1], 0.064, 220,
              decay=1.1, bright=0.5, vel=fade_arp)
    place_melody(mix, CLOSE_BELLS, 'bell', 'bell', 0.085, 320, pan=-0.15)
    place_melody(mix, CLOSE_TUNE, 'flute', 'flute', 0.105, 340, pan=0.1)
    for t, name in END_BELLS:
        mix.add('bell', t, bell(midi(name), decay=2.5, length=5.0), pan=0.3 * np.sin(3 * t), gain=0.07)
    # a gentle half-time groove that thins out
    for b in range(8):
        t0 = CLOSE_T0 + b * BAR
        fade = 1.0 - b / 8.0
        if b < 6:
            mix.add('kick', t0, kick(decay=0.1), gain=0.45 * fade)
        mix.add('drums', t0 + 2 * BEAT, snare(790, tone=0.3), pan=0.1, gain=0.05 * fade)
        for s in range(8):
            mix.add('drums', t0 + s * 2 * S16, hat(970 + s % 2, decay=0.03, tone=6500.0), pan=0.3,
                    gain=0.03 * fade * (1.0 if s % 2 else 0.6))
    mix.add('waves', 73.0, waves(25.0, 502), gain=0.14)


def kick_times():
    return [BEAT_T0 + i * BEAT for i in range(BEAT_BARS * 4)]


def duck_envelope(times, depth, release=0.16, attack=0.003):
    env = np.ones(N)
    L = int(release * 5 * SR)
    t = np.arange(L) / SR
    shape = 1.0 - depth * np.minimum(1.0, t / attack) * np.exp(-np.maximum(t - attack, 0) / release)
    for tk in times:
        i0 = int(round(tk * SR))
        n = min(L, N - i0)
        env[i0:i0 + n] = np.minimum(env[i0:i0 + n], shape[:n])
    return env


def make_ir(seed, length=3.0, t60_low=2.4, t60_high=0.8, predelay=0.02):
    """Stereo hall: decaying noise whose highs die sooner, no low end."""
    r = rng(seed)
    n = int(length * SR)
    out = np.zeros((2, n + int(predelay * SR)))

    def gain(times, freqs):
        x = np.clip(np.log2(np.maximum(freqs, 1.0) / 400.0) / np.log2(12000.0 / 400.0), 0.0, 1.0)
        t60 = t60_low + (t60_high - t60_low) * x
        tt = np.maximum(times, 0.0)
        return np.exp(-6.91 * tt / t60) * hp(freqs, 220, 2) * lp(freqs, 11000, 2)

    for ch in range(2):
        x = stft_filter(r.standard_normal(n), gain)
        x *= np.minimum(1.0, np.arange(n) / (0.012 * SR))
        # a few early reflections
        for _ in range(6):
            k = int(r.uniform(0.004, 0.045) * SR)
            x[k] += r.uniform(-1.0, 1.0) * 4.0 * np.std(x[:int(0.1 * SR)])
        x = fade_edges(x, 0.0, 0.2)
        out[ch, int(predelay * SR):] = x / np.sqrt(np.sum(x ** 2))
    return out


def pingpong(send, delay=0.375, fb=0.45, taps=10, damp=3500.0):
    """Ping-pong echo, computed in the frequency domain; each repeat is darker."""
    mono = 0.5 * (send[0] + send[1])
    nf = 1 << int(np.ceil(np.log2(N + taps * delay * SR + 1)))
    X = np.fft.rfft(mono, nf)
    f = np.fft.rfftfreq(nf, 1.0 / SR)
    H = lp(f, damp, 1) * hp(f, 250, 1)
    outL = np.zeros(len(f), complex)
    outR = np.zeros(len(f), complex)
    step = np.exp(-2j * np.pi * f * delay)
    cur = X.copy()
    for k in range(1, taps + 1):
        cur = cur * step * H * (fb if k > 1 else 1.0)
        if k % 2:
            outL += cur
        else:
            outR += cur
    return np.vstack([np.fft.irfft(outL, nf)[:N], np.fft.irfft(outR, nf)[:N]])


# per track: (gain, reverb send, delay send, duck depth)
TRACKS = {
    'pad':   (1.0, 0.30, 0.00, 0.55),
    'arp':   (1.0, 0.35, 0.30, 0.45),
    'flute': (1.0, 0.45, 0.18, 0.0),
    'bell':  (1.0, 0.45, 0.22, 0.0),
    'lead':  (1.0, 0.22, 0.16, 0.15),
    'bass':  (1.0, 0.00, 0.00, 0.55),
    'kick':  (0.55, 0.00, 0.00, 0.0),
    'drums': (1.0, 0.10, 0.00, 0.0),
    'fx':    (1.0, 0.25, 0.00, 0.0),
    'waves': (1.0, 0.12, 0.00, 0.0),
}


def section_rms(x):
    spans = [('open', 0, 28), ('turn', 28, 31), ('pirate', 31, 39), ('beat', 39, 59), ('close', 59, 98)]
    out = []
    for _, a, b in spans:
        seg = x[:, int(a * SR):int(b * SR)]
        out.append(20 * np.log10(np.sqrt(np.mean(seg ** 2)) + 1e-9))
    return '  '.join('%7.1f' % v for v in out)


def master(mix, stats=False):
    duck = duck_envelope(kick_times(), 1.0)
    dry = np.zeros((2, N))
    rsend = np.zeros((2, N))
    dsend = np.zeros((2, N))
    if stats:
        print('  track levels dBFS:   open    turn  pirate    beat   close')
    for name, buf in mix.tracks.items():
        g, rv, dl, dd = TRACKS[name]
        if dd > 0:
            buf *= 1.0 - dd * (1.0 - duck)
        if stats:
            print('  %-6s %s' % (name, section_rms(buf * g)))
        dry += g * buf
        rsend += rv * buf
        dsend += dl * buf
    print('  reverb and echo', flush=True)
    ir = make_ir(4242)
    wet = np.vstack([fft_convolve(rsend[0], ir[0], N), fft_convolve(rsend[1], ir[1], N)])
    echo = pingpong(dsend)
    # let the space breathe with the kick too
    wet *= 1.0 - 0.35 * (1.0 - duck)
    echo *= 1.0 - 0.35 * (1.0 - duck)
    if stats:
        print('  %-6s %s' % ('reverb', section_rms(0.9 * wet)))
        print('  %-6s %s' % ('echo', section_rms(0.8 * echo)))
    out = dry + 0.9 * wet + 0.8 * echo
    out = fft_filter(out, lambda f: hp(f, 25, 2))
    t = np.arange(N) / SR
    fade = np.where(t < 90.0, 1.0, 0.5 + 0.5 * np.cos(np.pi * np.clip((t - 90.0) / 8.0, 0, 1)))
    out *= fade
    out = fade_edges(out, 0.005, 0.0)
    # normalise so that peaks sit 1 dB over the ceiling, then limit
    ceiling = 10 ** (CEILING_DB / 20)
    out *= ceiling * 10 ** (1.0 / 20) / np.max(np.abs(out))
    peak = np.max(np.abs(out), axis=0)
    need = np.minimum(1.0, ceiling / np.maximum(peak, 1e-9))
    w = int(0.012 * SR) | 1
    gain = moving_average(sliding_min(need, 2 * w + 1), w)
    out *= np.minimum(gain, need)
    if stats:
        print('  limiter: %.2f dB max gain reduction, %.2f%% of the time' %
              (-20 * np.log10(gain.min()), 100 * np.mean(gain < 0.999)))
        print('  %-6s %s' % ('master', section_rms(out)))
    return out


def write_wav(path, stereo, seed=99):
    r = rng(seed)
    dither = (r.random(stereo.shape) - r.random(stereo.shape)) / 32768.0
    pcm = np.clip(np.round((stereo + dither) * 32767.0), -32768, 32767).astype('<i2')
    with wave.open(path, 'wb') as wf:
        wf.setnchannels(2)
        wf.setsampwidth(2)
        wf.setframerate(SR)
        wf.writeframes(pcm.T.tobytes())


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--keep-wav', help='also keep the 16-bit master WAV at this path')
    ap.add_argument('--no-check', action='store_true', help='do not run tools/check_music.py')
    ap.add_argument('--stats', action='store_true', help='print per-track levels')
    ap.add_argument('--out', default=OUT_MP3, help='MP3 path (default data/sound/dovevivaz.mp3)')
    args = ap.parse_args()

    print('composing', flush=True)
    mix = Mixer()
    compose(mix)
    print('mixing', flush=True)
    out = master(mix, args.stats)
    wav = args.keep_wav or os.path.join('/tmp', 'movra_music_%d.wav' % os.getpid())
    write_wav(wav, out)
    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    print('encoding %s' % args.out, flush=True)
    subprocess.run(['lame', '--quiet', '-h', '--cbr', '-b', str(BITRATE), wav, args.out], check=True)
    if not args.keep_wav:
        os.remove(wav)
    if not args.no_check:
        here = os.path.dirname(os.path.abspath(__file__))
        rc = subprocess.run([sys.executable, os.path.join(here, 'check_music.py'), args.out]).returncode
        sys.exit(rc)


if __name__ == '__main__':
    main()
