"""What a caller hears, from one stereo recording of the lab's "room" sink: the left channel is
what the phone's microphone heard (chirps played into it), the right one what its speaker played
(the far end's echo of them). Both are on the sound server's one clock, so the lag of each echo
behind its chirp is the round trip through the phone, the network and back.

Per chirp: the round trip (the lag of the cross-correlation peak), the similarity (the
normalised correlation of the echo with the chirp) and the dropouts (a 20 ms stretch of the
echo more than 10 dB below the same stretch of its neighbours' echoes)."""

import numpy as np

RATE = 48000
CHIRP_S = 0.2
PERIOD_S = 1.0
F0, F1 = 300.0, 3400.0
AMPLITUDE = 0.3
FRAME_S = 0.020
DROP_DB = 10.0
MISSING = 0.3  # similarity below which an echo counts as lost


def chirp():
    n = int(CHIRP_S * RATE)
    t = np.arange(n) / RATE
    x = np.sin(2 * np.pi * (F0 * t + (F1 - F0) * t * t / (2 * CHIRP_S)))
    fade = int(0.005 * RATE)
    ramp = 0.5 - 0.5 * np.cos(np.pi * np.arange(fade) / fade)
    x[:fade] *= ramp
    x[-fade:] *= ramp[::-1]
    return AMPLITUDE * x


def chirp_train(seconds):
    """`seconds` of chirps, one every PERIOD_S from the start, as 16-bit mono samples."""
    c = chirp()
    out = np.zeros(int(seconds * RATE))
    step = int(PERIOD_S * RATE)
    for start in range(0, len(out) - len(c), step):
        out[start:start + len(c)] = c
    return (out * 32767).astype("<i2")


def _xcorr(signal, template):
    """Cross-correlation of `signal` with `template` at every lag >= 0 (valid part)."""
    n = len(signal) + len(template)
    size = 1 << (n - 1).bit_length()
    s = np.fft.rfft(signal, size)
    t = np.fft.rfft(template[::-1], size)
    full = np.fft.irfft(s * t, size)[:n - 1]
    return full[len(template) - 1:len(signal)]


def _window_energy(x, width):
    """Energy of every window of `width` samples starting at each index."""
    c = np.concatenate(([0.0], np.cumsum(x * x)))
    return c[width:] - c[:-width]


def analyse(raw, max_lag_s=0.9):
    """Echoes of the chirps in a stereo s16le recording at RATE.
    Returns a list of dicts: index (chirp number from the first one heard), at_s (its place in
    the recording), rt_ms (None when the echo is lost), similarity, dropouts."""
    x = np.frombuffer(raw[: len(raw) // 4 * 4], dtype="<i2").reshape(-1, 2).astype(np.float64) / 32768.0
    left, right = x[:, 0], x[:, 1]
    c = chirp()
    n = len(c)
    cnorm = np.sqrt(np.sum(c * c))
    xl = _xcorr(left, c)
    # The chirps as the microphone heard them: peaks well above the rest, a period apart.
    onsets = []
    thresh = 0.5 * np.max(xl) if len(xl) else 0
    step = int(PERIOD_S * RATE)
    i = 0
    while i < len(xl):
        if xl[i] >= thresh:
            j = i + int(np.argmax(xl[i:i + step // 2]))
            onsets.append(j)
            i = j + step // 2
        else:
            i += 1
    xr = _xcorr(right, c)
    max_lag = int(max_lag_s * RATE)
    width = int(FRAME_S * RATE)
    echoes = []
    first = onsets[0] if onsets else 0
    for on in onsets:
        seg = xr[on:on + max_lag]
        if len(seg) < max_lag or on + max_lag + n > len(right):
            break
        lag = int(np.argmax(seg))
        echo = right[on + lag:on + lag + n]
        energy = np.sqrt(np.sum(echo * echo))
        sim = float(seg[lag] / (cnorm * energy)) if energy > 0 else 0.0
        e = {"index": int(round((on - first) / step)), "at_s": on / RATE,
             "rt_ms": lag * 1000.0 / RATE if sim >= MISSING else None, "similarity": sim,
             "profile": _window_energy(echo, width)[::48] if sim >= MISSING else None}
        echoes.append(e)
    # Dropouts: stretches of an echo far below the same stretch of its neighbours.
    for k, e in enumerate(echoes):
        e["dropouts"] = 0
        if e["profile"] is None:
            continue
        refs = [echoes[j]["profile"] for j in (k - 2, k - 1, k + 1, k + 2)
                if 0 <= j < len(echoes) and echoes[j]["profile"] is not None]
        if len(refs) < 2:
            continue
        ref = np.median(np.vstack(refs), axis=0)
        low = e["profile"] < ref * 10 ** (-DROP_DB / 10.0)
        # One dropout per run of low windows.
        e["dropouts"] = int(np.sum(low[1:] & ~low[:-1]) + (1 if low[0] else 0))
    for e in echoes:
        del e["profile"]
    return echoes


def summarise(echoes):
    """Figures of a set of chirps: count, lost echoes, round trip median and p10-p90, mean
    similarity, dropouts."""
    rts = [e["rt_ms"] for e in echoes if e["rt_ms"] is not None]
    out = {"chirps": len(echoes), "lost": sum(1 for e in echoes if e["rt_ms"] is None),
           "dropouts": sum(e["dropouts"] for e in echoes)}
    if rts:
        out.update(rt_ms=float(np.median(rts)), rt_p10=float(np.percentile(rts, 10)),
                   rt_p90=float(np.percentile(rts, 90)))
    sims = [e["similarity"] for e in echoes]
    if sims:
        out["similarity"] = float(np.mean(sims))
    return out


def _ulaw_table():
    u = ~np.arange(256, dtype=np.int32) & 0xFF
    t = (((u & 0x0F) << 3) + 0x84) << ((u & 0x70) >> 4)
    return np.where(u & 0x80, 0x84 - t, t - 0x84).astype(np.float64) / 32768.0


ULAW = _ulaw_table()
WIRE_RATE = 8000


def on_the_wire(packets):
    """When each chirp passed the relay in a G.711 stream: `packets` are (time, RTP timestamp,
    payload) as the relay saw them. Returns the times, in order (None where the sample's packet
    is unknown)."""
    if not packets:
        return []
    base = packets[0][1]
    span = max((ts - base) & 0xFFFFFFFF for _, ts, _ in packets) + 400
    if span > WIRE_RATE * 600:
        return []
    signal = np.zeros(span)
    when = np.full(span, np.nan)
    for t, ts, payload in packets:
        at = (ts - base) & 0xFFFFFFFF
        pcm = ULAW[np.frombuffer(payload, dtype=np.uint8)]
        signal[at:at + len(pcm)] = pcm[:span - at]
        # The time of each sample: its packet's, less the samples that follow it in the packet.
        when[at:at + len(pcm)] = (t - (len(pcm) - np.arange(len(pcm))) / WIRE_RATE)[:span - at]
    c = chirp()[:: RATE // WIRE_RATE]
    xc = _xcorr(signal, c)
    thresh = 0.5 * np.max(xc) if len(xc) else 0
    step = int(PERIOD_S * WIRE_RATE)
    out = []
    i = 0
    while i < len(xc):
        if xc[i] >= thresh:
            j = i + int(np.argmax(xc[i:i + step // 2]))
            out.append(None if np.isnan(when[j]) else float(when[j]))
            i = j + step // 2
        else:
            i += 1
    return out
