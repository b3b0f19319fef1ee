// AES throughput side by side in one run: the table-driven and the AES-NI engine, the codec against
// OpenSSL's EVP interface for the same mode, and the cost of one string token.
// Usage: aes_throughput [MiB] (default 16)

#include <base/AESCodec.h>
#include <base/AesBlockCipher.h>
#include <base/StringEncryption.h>

#include <QByteArray>
#include <QRandomGenerator>
#include <QString>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>

#ifdef NEROVA_BENCH_OPENSSL
#include <openssl/evp.h>
#endif

using Nerova::AesBlockCipher;
using Nerova::AESCodec;

namespace {

constexpr int kRounds = 5;

// Best of several runs, in seconds.
double bestSeconds(const std::function<void()>& work)
{
    double best = 1e30;
    for (int i = 0; i < kRounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        if (elapsed.count() < best)
            best = elapsed.count();
    }
    return best;
}

double megabytesPerSecond(qint64 bytes, double seconds)
{
    return seconds > 0 ? double(bytes) / seconds / 1e6 : 0.0;
}

QByteArray randomBytes(int size)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator random(12345);
    for (char& c : data)
        c = static_cast<char>(random.bounded(256));
    return data;
}

const std::uint8_t* bytes(const QByteArray& a)
{
    return reinterpret_cast<const std::uint8_t*>(a.constData());
}

std::uint8_t* bytes(QByteArray& a)
{
    return reinterpret_cast<std::uint8_t*>(a.data());
}

// Keeps the optimiser from dropping a result.
volatile unsigned char gSink;

void consume(const QByteArray& a)
{
    if (!a.isEmpty())
        gSink = static_cast<unsigned char>(a.at(a.size() - 1));
}

#ifdef NEROVA_BENCH_OPENSSL
// One EVP encryption with PKCS #7 padding into a buffer made once, as an OpenSSL user would.
double opensslSeconds(const EVP_CIPHER* cipher, const QByteArray& text, const QByteArray& key,
                      const QByteArray& iv)
{
    QByteArray out(text.size() + 16, Qt::Uninitialized);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    const double seconds = bestSeconds([&] {
        int written = 0;
        int last = 0;
        EVP_EncryptInit_ex(ctx, cipher, nullptr, bytes(key), bytes(iv));
        EVP_EncryptUpdate(ctx, bytes(out), &written, bytes(text), text.size());
        EVP_EncryptFinal_ex(ctx, bytes(out) + written, &last);
    });
    consume(out);
    EVP_CIPHER_CTX_free(ctx);
    return seconds;
}
#endif

} // namespace

int main(int argc, char** argv)
{
    const int mebibytes = argc > 1 ? std::atoi(argv[1]) : 16;
    if (mebibytes <= 0 || mebibytes > 1024) {
        std::fprintf(stderr, "usage: aes_throughput [MiB 1..1024]\n");
        return 2;
    }
    const int size = mebibytes * 1024 * 1024;
    const QByteArray text = randomBytes(size);
    const QByteArray key = randomBytes(16);
    const QByteArray iv("bench-iv-16bytes");

    std::printf("AES-128 over %d MiB, best of %d runs, MB/s (10^6 bytes per second)\n\n", mebibytes, kRounds);

    // The two engines on raw buffers.
    std::printf("%-18s %12s %12s %8s\n", "engine", "portable", "AES-NI", "ratio");
    const bool aesNi = AesBlockCipher::hasAesNi();
    const AesBlockCipher portable(bytes(key), 4, AesBlockCipher::Engine::Portable);
    const AesBlockCipher native(bytes(key), 4, AesBlockCipher::Engine::AesNi);
    QByteArray out(size, Qt::Uninitialized);
    const auto blocks = static_cast<std::size_t>(size / 16);
    struct EngineCase
    {
        const char* name;
        std::function<void(const AesBlockCipher&)> run;
    };
    const EngineCase cases[] = {
        {"ECB encrypt",
         [&](const AesBlockCipher& c) {
             c.encryptEcb(bytes(text), bytes(out), blocks);
         }},
        {"ECB decrypt",
         [&](const AesBlockCipher& c) {
             c.decryptEcb(bytes(text), bytes(out), blocks);
         }},
        {"CBC encrypt",
         [&](const AesBlockCipher& c) {
             QByteArray chain = iv;
             c.encryptCbc(bytes(text), bytes(out), blocks, bytes(chain));
         }},
        {"CBC decrypt",
         [&](const AesBlockCipher& c) {
             QByteArray chain = iv;
             c.decryptCbc(bytes(text), bytes(out), blocks, bytes(chain));
         }},
        {"CFB decrypt",
         [&](const AesBlockCipher& c) {
             QByteArray chain = iv;
             c.decryptCfb(bytes(text), bytes(out), size, bytes(chain));
         }},
        {"OFB",
         [&](const AesBlockCipher& c) {
             QByteArray chain = iv;
             c.cryptOfb(bytes(text), bytes(out), size, bytes(chain));
         }},
    };
    for (const EngineCase& c : cases) {
        const double slow = megabytesPerSecond(size, bestSeconds([&] { c.run(portable); }));
        if (aesNi) {
            const double fast = megabytesPerSecond(size, bestSeconds([&] { c.run(native); }));
            std::printf("%-18s %12.1f %12.1f %7.1fx\n", c.name, slow, fast, fast / slow);
        } else {
            std::printf("%-18s %12.1f %12s %8s\n", c.name, slow, "n/a", "-");
        }
    }
    consume(out);

    // The codec as callers use it (fresh output array, padding), against OpenSSL in the same run.
    std::printf("\n%-18s %12s %12s %8s %8s\n", "encode (PKCS #7)", "AESCodec", "OpenSSL", "ratio", "goal");
    struct CodecCase
    {
        const char* name;
        AESCodec::Mode mode;
        double goal;
    };
    const CodecCase codecCases[] = {{"CBC", AESCodec::CBC, 0.5}, {"ECB", AESCodec::ECB, 0.3}};
    for (const CodecCase& c : codecCases) {
        const AESCodec codec(AESCodec::AES_128, c.mode, AESCodec::PKCS7);
        const double ours =
            megabytesPerSecond(size, bestSeconds([&] { consume(codec.encode(text, key, iv)); }));
#ifdef NEROVA_BENCH_OPENSSL
        const EVP_CIPHER* cipher = c.mode == AESCodec::CBC ? EVP_aes_128_cbc() : EVP_aes_128_ecb();
        const double theirs = megabytesPerSecond(size, opensslSeconds(cipher, text, key, iv));
        std::printf("%-18s %12.1f %12.1f %7.2fx %7.1fx\n", c.name, ours, theirs, ours / theirs, c.goal);
#else
        std::printf("%-18s %12.1f %12s %8s %7.1fx\n", c.name, ours, "n/a", "-", c.goal);
#endif
    }

    // One token of a 100-character text.
    const QString line = QString::fromLatin1(randomBytes(50).toHex());
    constexpr int kCalls = 100000;
    const double tokenSeconds = bestSeconds([&] {
        for (int i = 0; i < kCalls; ++i)
            gSink = static_cast<unsigned char>(Nerova::encryptString(line).size());
    });
    const QString token = Nerova::encryptString(line);
    const double readSeconds = bestSeconds([&] {
        for (int i = 0; i < kCalls; ++i)
            gSink = static_cast<unsigned char>(Nerova::decryptString(token).size());
    });
    std::printf("\nencryptString, 100 characters: %.2f us per call (goal under 5 us)\n",
                tokenSeconds / kCalls * 1e6);
    std::printf("decryptString of that token:    %.2f us per call\n", readSeconds / kCalls * 1e6);
    return 0;
}
