#!/usr/bin/env bash
# Rate-quality curves of cJpeg, libjpeg-turbo (cjpeg -optimize) and mozjpeg (through the npm package
# sharp) over a folder of images, with butteraugli and ffmpeg's SSIM, and their Bjøntegaard delta rates.
#
# usage: bench/jpeg_quality.sh FOLDER [QUALITIES]
#   QUALITIES defaults to "50 55 60 65 70 75 80 85 90 95".
# Environment:
#   CJPEG        the cJpeg program (default: build/bin/cJpeg in the repository)
#   ENCODERS     which columns to run (default "cjpeg turbo mozjpeg")
#   BENCH_CACHE  where sharp is installed and reference results are kept
#                (default: ${XDG_CACHE_HOME:-~/.cache}/nerova-bench)
#   BENCH_OUT    where the per-image results (results.tsv) go (default: a temporary folder)
#
# Every encoder reads the same decoded pixels: cJpeg and cjpeg a PPM, mozjpeg raw RGB handed to sharp
# inside node, so speed compares encoders and not image decoders. Speed is megapixels per CPU-second
# (user + system, all threads); node's start-up is not counted for mozjpeg.
# BD-rate is the mean over images of the rate difference at equal quality, from a cubic fit of log(bytes)
# against the quality axis integrated over the range both curves cover. The axes are -log(butteraugli
# distance) and SSIM in dB (-10 log10(1 - SSIM)), SSIM over Y alone and over Y, U and V at full
# resolution (the mean of the three planes). Negative means fewer bytes than the reference.
set -euo pipefail

folder=${1:?usage: jpeg_quality.sh FOLDER [QUALITIES]}
qualities=${2:-"50 55 60 65 70 75 80 85 90 95"}
repo=$(cd "$(dirname "$0")/.." && pwd)
cjpeg_program=${CJPEG:-$repo/build/bin/cJpeg}
encoders=${ENCODERS:-"cjpeg turbo mozjpeg"}
cache=${BENCH_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/nerova-bench}

need() { command -v "$1" >/dev/null || { echo "jpeg_quality: $1 is missing ($2)" >&2; exit 1; }; }
need ffmpeg "scripts/install-deps.sh"
need butteraugli "scripts/install-deps.sh"
need python3 "scripts/install-deps.sh"
[ -x "$cjpeg_program" ] || { echo "jpeg_quality: build cJpeg first ($cjpeg_program)" >&2; exit 1; }
if [[ " $encoders " == *" turbo "* ]] && ! command -v cjpeg >/dev/null; then
    echo "jpeg_quality: libjpeg-turbo's cjpeg is missing; run scripts/install-deps.sh bench" >&2
    exit 1
fi

sharp_dir=$cache/sharp
mozjpeg=""
if [[ " $encoders " == *" mozjpeg "* ]]; then
    if [ ! -d "$sharp_dir/node_modules/sharp" ] && command -v npm >/dev/null; then
        echo "Installing the npm package sharp (it bundles mozjpeg) into $sharp_dir" >&2
        mkdir -p "$sharp_dir"
        (cd "$sharp_dir" && npm install --no-audit --no-fund --loglevel=error sharp >&2) || true
    fi
    if command -v node >/dev/null && (cd "$sharp_dir" 2>/dev/null && node -e "require('sharp')" 2>/dev/null); then
        mozjpeg=$sharp_dir
    else
        echo "jpeg_quality: sharp is not available (needs node and npm); skipping mozjpeg" >&2
    fi
fi

out=${BENCH_OUT:-}
if [ -z "$out" ]; then
    out=$(mktemp -d)
    trap 'rm -rf "$out"' EXIT
fi
mkdir -p "$out" "$cache"

python3 - "$folder" "$qualities" "$cjpeg_program" "$encoders" "$mozjpeg" "$out" "$cache" <<'PYTHON'
import hashlib, json, math, os, re, resource, subprocess, sys, tempfile

folder, qualities, cjpeg_program, encoders, sharp_dir, out, cache = sys.argv[1:8]
qualities = [int(q) for q in qualities.split()]
encoders = [e for e in encoders.split() if e != "mozjpeg" or sharp_dir]
names = {"cjpeg": "cJpeg", "turbo": "libjpeg-turbo", "mozjpeg": "mozjpeg"}
images = sorted(f for f in os.listdir(folder)
                if f.lower().endswith((".png", ".jpg", ".jpeg", ".ppm", ".bmp", ".tif", ".tiff", ".webp")))
if not images:
    sys.exit("jpeg_quality: no images in " + folder)
work = tempfile.mkdtemp(dir=out)

SHARP_JS = r"""
const sharp = require('sharp');
const fs = require('fs');
sharp.concurrency(1);
(async () => {
  for (const job of JSON.parse(fs.readFileSync(process.argv[2], 'utf8'))) {
    const raw = fs.readFileSync(job.raw);
    const start = process.cpuUsage();
    const data = await sharp(raw, {raw: {width: job.width, height: job.height, channels: 3}})
      .jpeg({mozjpeg: true, quality: job.quality}).toBuffer();
    const used = process.cpuUsage(start);
    fs.writeFileSync(job.out, data);
    console.log(JSON.stringify({out: job.out, cpu: (used.user + used.system) / 1e6}));
  }
})();
"""

def run(args, **kw):
    return subprocess.run(args, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)

def child_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime

def timed(args):
    before = child_cpu()
    run(args)
    return child_cpu() - before

def butteraugli(reference, jpeg):
    return float(run(["butteraugli", reference, jpeg]).stdout.split()[0])

def ssim(reference, jpeg):
    graph = "[0]format=yuv444p[a];[1]format=yuv444p[b];[a][b]ssim"
    text = run(["ffmpeg", "-hide_banner", "-i", reference, "-i", jpeg, "-lavfi", graph, "-f", "null", "-"]).stderr.decode()
    m = re.search(r"Y:([0-9.]+).*U:([0-9.]+).*V:([0-9.]+)", text)
    y, u, v = (float(x) for x in m.groups())
    return y, (y + u + v) / 3

# Results of the reference encoders do not change between runs, so they are kept by image content.
reference_file = os.path.join(cache, "jpeg_quality_reference.json")
try:
    with open(reference_file) as f:
        reference_cache = json.load(f)
except (OSError, ValueError):
    reference_cache = {}

rows = []  # (encoder, image, quality, bytes, pixels, cpu, butteraugli, ssim_y, ssim_all)
for image in images:
    source = os.path.join(folder, image)
    base = os.path.splitext(image)[0]
    ppm = os.path.join(work, base + ".ppm")
    png = os.path.join(work, base + ".png")
    raw = os.path.join(work, base + ".rgb")
    run(["ffmpeg", "-loglevel", "error", "-y", "-i", source, "-frames:v", "1", "-pix_fmt", "rgb24", ppm])
    run(["ffmpeg", "-loglevel", "error", "-y", "-i", ppm, png])  # the reference butteraugli reads
    run(["ffmpeg", "-loglevel", "error", "-y", "-i", ppm, "-f", "rawvideo", "-pix_fmt", "rgb24", raw])
    width, height = (int(x) for x in open(ppm, "rb").read(64).split()[1:3])
    pixels = width * height
    digest = hashlib.sha256(open(ppm, "rb").read()).hexdigest()[:16]
    encoded = {}
    for encoder in encoders:
        todo = []
        for q in qualities:
            key = "%s/%s/%d" % (encoder, digest, q)
            if encoder != "cjpeg" and key in reference_cache:
                rows.append([encoder, image, q] + reference_cache[key])
                continue
            todo.append((q, key, os.path.join(work, "%s-%s-%d.jpg" % (base, encoder, q))))
        cpu = {}
        if encoder == "mozjpeg" and todo:
            jobs = os.path.join(work, "jobs.json")
            with open(jobs, "w") as f:
                json.dump([{"raw": raw, "width": width, "height": height, "quality": q, "out": o}
                           for q, _, o in todo], f)
            script = os.path.join(work, "encode.js")
            with open(script, "w") as f:
                f.write(SHARP_JS)
            lines = run(["node", script, jobs], cwd=sharp_dir,
                        env=dict(os.environ, NODE_PATH=os.path.join(sharp_dir, "node_modules"))).stdout
            for line in lines.decode().splitlines():
                r = json.loads(line)
                cpu[r["out"]] = r["cpu"]
        for q, key, o in todo:
            if encoder == "cjpeg":
                cpu[o] = timed([cjpeg_program, "-outfile", o, "-quality", str(q), "-baseline", ppm])
            elif encoder == "turbo":
                cpu[o] = timed(["cjpeg", "-optimize", "-quality", str(q), "-outfile", o, ppm])
            distance = butteraugli(png, o)
            y, a = ssim(png, o)
            values = [os.path.getsize(o), pixels, cpu[o], distance, y, a]
            rows.append([encoder, image, q] + values)
            if encoder != "cjpeg":
                reference_cache[key] = values
            os.remove(o)
    for p in (ppm, png, raw):
        os.remove(p)
    print("  done %s" % image, file=sys.stderr)

# Another run may have added results meanwhile: merge rather than overwrite.
try:
    with open(reference_file) as f:
        reference_cache = dict(json.load(f), **reference_cache)
except (OSError, ValueError):
    pass
temporary = "%s.%d" % (reference_file, os.getpid())
with open(temporary, "w") as f:
    json.dump(reference_cache, f)
os.replace(temporary, reference_file)
with open(os.path.join(out, "results.tsv"), "w") as f:
    f.write("encoder\timage\tquality\tbytes\tpixels\tcpu_s\tbutteraugli\tssim_y\tssim_yuv\n")
    for r in rows:
        f.write("\t".join(str(x) for x in r) + "\n")

def polyfit3(xs, ys):
    # Least squares through the normal equations; x is centred for conditioning.
    n = 4
    a = [[sum(x ** (i + j) for x in xs) for j in range(n)] for i in range(n)]
    b = [sum(y * x ** i for x, y in zip(xs, ys)) for i in range(n)]
    for col in range(n):
        pivot = max(range(col, n), key=lambda r: abs(a[r][col]))
        a[col], a[pivot] = a[pivot], a[col]
        b[col], b[pivot] = b[pivot], b[col]
        for r in range(n):
            if r != col and a[col][col] != 0:
                f = a[r][col] / a[col][col]
                a[r] = [u - f * v for u, v in zip(a[r], a[col])]
                b[r] -= f * b[col]
    return [b[i] / a[i][i] for i in range(n)]

def integral(c, lo, hi):
    prim = lambda x: sum(c[i] * x ** (i + 1) / (i + 1) for i in range(4))
    return prim(hi) - prim(lo)

def bd_rate(test, ref):
    # test/ref: lists of (quality metric, bytes). Returns percent, or None without overlap.
    if len(test) < 4 or len(ref) < 4:
        return None
    lo = max(min(m for m, _ in test), min(m for m, _ in ref))
    hi = min(max(m for m, _ in test), max(m for m, _ in ref))
    if hi <= lo:
        return None
    centre = (lo + hi) / 2
    fit = lambda pts: polyfit3([m - centre for m, _ in pts], [math.log(b) for _, b in pts])
    diff = (integral(fit(test), lo - centre, hi - centre) - integral(fit(ref), lo - centre, hi - centre)) / (hi - lo)
    return (math.exp(diff) - 1) * 100

metrics = {
    "butteraugli": lambda r: -math.log(r[6]),
    "SSIM Y": lambda r: -10 * math.log10(max(1e-9, 1 - r[7])),
    "SSIM YUV": lambda r: -10 * math.log10(max(1e-9, 1 - r[8])),
}
by = {}
for r in rows:
    by.setdefault((r[0], r[1]), []).append(r)

print("\nBD-rate over %d images of %s, quality %d-%d (negative: fewer bytes at equal quality)"
      % (len(images), os.path.basename(os.path.normpath(folder)), min(qualities), max(qualities)))
pairs = [p for p in (("cjpeg", "turbo"), ("cjpeg", "mozjpeg"), ("mozjpeg", "turbo"))
         if p[0] in encoders and p[1] in encoders]
print("%-28s %12s %12s %12s" % ("", *metrics))
for test, ref in pairs:
    cells = []
    for name, metric in metrics.items():
        values = [bd_rate([(metric(r), r[3]) for r in by[(test, i)]], [(metric(r), r[3]) for r in by[(ref, i)]])
                  for i in images]
        values = [v for v in values if v is not None]
        cells.append("%+11.2f%%" % (sum(values) / len(values)) if values else "%12s" % "n/a")
    print("%-28s %s %s %s" % ("%s vs %s" % (names[test], names[ref]), *cells))

print("\n%-14s %14s %12s %14s %10s" % ("encoder", "MP/CPU-second", "bytes (sum)", "butteraugli", "SSIM YUV"))
for e in encoders:
    rs = [r for r in rows if r[0] == e]
    mp = sum(r[4] for r in rs) / 1e6
    cpu = sum(r[5] for r in rs)
    print("%-14s %14.1f %12d %14.3f %10.5f" % (names[e], mp / cpu if cpu else float("nan"), sum(r[3] for r in rs),
                                               sum(r[6] for r in rs) / len(rs), sum(r[8] for r in rs) / len(rs)))
q75 = {e: [r for r in rows if r[0] == e and r[2] == 75] for e in encoders}
if all(q75.values()):
    print("\nat quality 75: " + ", ".join("%s %d bytes, butteraugli %.3f" % (names[e], sum(r[3] for r in q75[e]),
          sum(r[6] for r in q75[e]) / len(q75[e])) for e in encoders))
if os.environ.get("BENCH_OUT"):
    print("\nper-image results: %s" % os.path.join(out, "results.tsv"), file=sys.stderr)
PYTHON
