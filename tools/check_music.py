#!/usr/bin/python3
"""Check the demo's music file the way the demo hears it.

Usage:
    /usr/bin/python3 tools/check_music.py [data/sound/dovevivaz.mp3]

Decodes the MP3 with `lame --decode`, then slides the demo's spectrum
snapshot over it: the 512 most recent samples, mixed to mono as (L+R)/2 in
[-1, 1], times a periodic Hann window, FFT, |X[k]| / 512.  Bin 0 (DC..86 Hz)
drives the cube's scale (1 + 20 * bin0).  Prints, per section of the piece
(music time = demo time - 1 s), the median, 90th percentile and maximum of
bin 0, then checks length, format, size, peak level, stereo width and the
cube's pulsing in the beat section.  Exits with status 1 if a check fails.

Needs /usr/bin/python3 with numpy, and lame.
"""

import os
import subprocess
import sys
import tempfile
import wave

import numpy as np

WIN = 512
HOP = 256
SECTIONS = [('opening', 0.0, 28.0), ('turn', 28.0, 31.0), ('pirate', 31.0, 39.0),
            ('beat', 39.0, 59.0), ('closing', 59.0, None)]
BEAT_T0, BEAT_T1, BEAT = 39.0, 59.0, 0.5
MAX_BYTES = int(2.5 * 1024 * 1024)


def snapshot_window():
    n = np.arange(WIN)
    return 0.5 * (1.0 - np.cos(2.0 * np.pi * n / WIN))


def spectrum(frame):
    """The demo's snapshot of one 512-sample mono frame."""
    return np.abs(np.fft.rfft(frame * snapshot_window())) / WIN


def bin0_track(mono):
    """Bin 0 for every hop; times are those of the newest sample in the frame."""
    starts = np.arange(0, len(mono) - WIN + 1, HOP)
    frames = np.lib.stride_tricks.as_strided(
        mono, shape=(len(starts), WIN), strides=(mono.strides[0] * HOP, mono.strides[0]))
    mag = np.abs(np.fft.rfft(frames * snapshot_window(), axis=1)) / WIN
    return (starts + WIN) / 44100.0, mag[:, 0]


def self_test():
    """The analyser must read 0.25 for a full-scale sine centred on a bin."""
    n = np.arange(WIN)
    for k in (1, 5, 40):
        got = spectrum(np.sin(2 * np.pi * k * n / WIN))[k]
        if abs(got - 0.25) > 1e-9:
            raise AssertionError('sine on bin %d reads %.6f, expected 0.25' % (k, got))
    got = spectrum(np.full(WIN, 0.1))[0]
    if abs(got - 0.05) > 1e-9:
        raise AssertionError('DC of 0.1 reads %.6f in bin 0, expected 0.05' % got)


def decode(mp3):
    fd, wav = tempfile.mkstemp(suffix='.wav')
    os.close(fd)
    try:
        subprocess.run(['lame', '--quiet', '--decode', mp3, wav], check=True)
        with wave.open(wav, 'rb') as wf:
            ch, width, rate, n = wf.getnchannels(), wf.getsampwidth(), wf.getframerate(), wf.getnframes()
            raw = wf.readframes(n)
    finally:
        os.remove(wav)
    if width != 2:
        raise AssertionError('decoder gave %d-byte samples' % width)
    pcm = np.frombuffer(raw, '<i2').reshape(-1, ch).T.astype(float) / 32768.0
    return pcm, rate


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    mp3 = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, '..', 'data', 'sound', 'dovevivaz.mp3')
    self_test()
    results = []

    def check(ok, what):
        print('  [%s] %s' % ('ok' if ok else 'FAIL', what))
        results.append(bool(ok))

    size = os.path.getsize(mp3)
    pcm, rate = decode(mp3)
    dur = pcm.shape[1] / rate
    peak = np.max(np.abs(pcm))
    peak_db = 20 * np.log10(max(peak, 1e-12))
    print('%s: %.2f s, %d Hz, %d ch, %d bytes (%.2f MiB), ~%.0f kbit/s, peak %.2f dBFS' %
          (mp3, dur, rate, pcm.shape[0], size, size / 1048576.0, size * 8 / dur / 1000.0, peak_db))

    mono = 0.5 * (pcm[0] + pcm[1]) if pcm.shape[0] == 2 else pcm[0]
    mono = np.ascontiguousarray(mono)
    times, b0 = bin0_track(mono)

    print('bin 0 (cube scale = 1 + 20*bin0), music time:')
    print('  %-8s %11s  %7s  %7s  %7s' % ('section', 'seconds', 'median', 'p90', 'max'))
    stats = {}
    for name, a, b in SECTIONS:
        b = dur if b is None else b
        sel = b0[(times >= a) & (times < b)]
        stats[name] = (np.median(sel), np.percentile(sel, 90), np.max(sel))
        print('  %-8s %5.1f-%5.1f  %7.4f  %7.4f  %7.4f' % ((name, a, b) + stats[name]))

    # per beat: the highest reading, and the highest in the last 50 ms before
    # the next beat (the cube should have shrunk back by then)
    peaks, before = [], []
    t = BEAT_T0
    while t < BEAT_T1 - 1e-9:
        peaks.append(b0[(times >= t) & (times < t + BEAT)].max())
        before.append(b0[(times >= t + BEAT - 0.05) & (times < t + BEAT)].max())
        t += BEAT
    peaks, before = np.array(peaks), np.array(before)
    in_range = np.mean((peaks >= 0.05) & (peaks <= 0.2))
    falls = np.mean(before <= 0.35 * peaks)
    print('beat section, per beat (%d beats): peak min/median/max %.4f/%.4f/%.4f, '
          'last 50 ms before the next beat: median %.4f, max %.4f' %
          (len(peaks), peaks.min(), np.median(peaks), peaks.max(), np.median(before), before.max()))

    side = 0.5 * (pcm[0] - pcm[1])
    width = np.sqrt(np.mean(side ** 2)) / np.sqrt(np.mean(mono ** 2))
    clipped = int(np.sum(np.abs(pcm) >= 32767 / 32768.0))

    print('checks:')
    check(rate == 44100 and pcm.shape[0] == 2, '44.1 kHz stereo')
    check(dur >= 95.0, 'length >= 95 s (%.2f s)' % dur)
    check(size < MAX_BYTES, 'file under 2.5 MiB (%.2f MiB)' % (size / 1048576.0))
    check(peak_db <= -1.0 and clipped == 0, 'peak <= -1 dBFS (%.2f dBFS, %d clipped samples)' % (peak_db, clipped))
    tail = np.sqrt(np.mean(mono[-rate:] ** 2))
    check(tail < 10 ** (-50 / 20), 'ends faded out (last second %.1f dBFS rms)' % (20 * np.log10(tail + 1e-12)))
    check(width > 0.1, 'stereo width: side/mid rms %.3f > 0.1' % width)
    check(stats['opening'][1] < 0.05, 'opening bin 0 mostly low (p90 %.4f < 0.05)' % stats['opening'][1])
    check(in_range >= 0.95, 'beat peaks within 0.05..0.2 (%.0f%% of beats)' % (100 * in_range))
    check(0.05 <= np.median(peaks) <= 0.2, 'median beat peak %.4f within 0.05..0.2' % np.median(peaks))
    check(falls >= 0.9, 'bin 0 falls back below 35%% of its peak before the next beat (%.0f%% of beats)'
          % (100 * falls))
    failed = results.count(False)
    print('%d passed, %d failed' % (len(results) - failed, failed))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
