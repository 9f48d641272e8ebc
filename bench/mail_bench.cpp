// The local mail view checks the mailbox every 300 ms: the check without a change must
// cost next to nothing, and a recount of a large store little.

#include "QXLocalMailbox.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

// A home folder holding a Maildir with `messages` new messages, or an mbox with as many.
class MailHome {
public:
    MailHome(int messages, bool mbox) {
        char pattern[] = "/tmp/qx-mail-bench-XXXXXX";
        m_path = ::mkdtemp(pattern);
        ::setenv("HOME", m_path.c_str(), 1);
        if (mbox) {
            std::ofstream out(m_path / "spool");
            for (int i = 0; i < messages; ++i)
                out << "From a@b Mon Jan  1 00:00:00 2024\nSubject: " << i << "\n"
                    << (i % 2 ? "Status: RO\n" : "") << "\nA short body\nof two lines\n\n";
            ::setenv("MAIL", (m_path / "spool").c_str(), 1);
        } else {
            std::filesystem::create_directories(m_path / "Maildir/new");
            for (int i = 0; i < messages; ++i)
                std::ofstream(m_path / "Maildir/new" / ("m" + std::to_string(i))) << "x\n";
            ::unsetenv("MAIL");
        }
    }
    ~MailHome() { std::filesystem::remove_all(m_path); }

private:
    std::filesystem::path m_path;
};

void BM_CheckWithoutChange(benchmark::State& state) {
    MailHome home(1000, false);
    QXLocalMailbox mailbox;
    mailbox.count();
    for (auto _ : state)
        benchmark::DoNotOptimize(mailbox.changed());
}
BENCHMARK(BM_CheckWithoutChange);

void BM_CountMaildir(benchmark::State& state) {
    MailHome home(static_cast<int>(state.range(0)), false);
    QXLocalMailbox mailbox;
    for (auto _ : state)
        benchmark::DoNotOptimize(mailbox.count());
}
BENCHMARK(BM_CountMaildir)->Arg(1000);

void BM_CountMbox(benchmark::State& state) {
    MailHome home(static_cast<int>(state.range(0)), true);
    QXLocalMailbox mailbox;
    for (auto _ : state)
        benchmark::DoNotOptimize(mailbox.count());
}
BENCHMARK(BM_CountMbox)->Arg(1000);

} // namespace

BENCHMARK_MAIN();
