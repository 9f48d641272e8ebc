#include "store/QXPtr.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

struct Counted {
    explicit Counted(int* deaths) : m_deaths(deaths) {}
    virtual ~Counted() { ++*m_deaths; }
    int* m_deaths;
};
struct Derived : Counted {
    using Counted::Counted;
};
struct Other : Counted {
    using Counted::Counted;
};

TEST(QXPtr, LastReleaseDestroysOnceWhateverTheTypeItIsHeldAs) {
    int deaths = 0;
    {
        QXPtr<Derived> derived(new Derived(&deaths));
        QXPtr<Counted> base = derived;
        EXPECT_EQ(base.useCount(), 2);
        derived.reset();
        EXPECT_EQ(deaths, 0) << "a remaining reference keeps the object";
        QXPtr<Derived> back = base.dynamicCast<Derived>();
        EXPECT_TRUE(back);
        EXPECT_EQ(base.useCount(), 2);
        EXPECT_FALSE(base.dynamicCast<Other>()) << "a failed cast is empty";
    }
    EXPECT_EQ(deaths, 1);
}

TEST(QXPtr, EmptyPointerIsFalseAndCopiesOfItStayEmpty) {
    QXPtr<Counted> empty;
    QXPtr<Counted> copy = empty;
    EXPECT_FALSE(empty);
    EXPECT_FALSE(copy);
    EXPECT_EQ(copy.useCount(), 0);
    EXPECT_TRUE(copy == nullptr);
}

TEST(QXPtr, CopiesDroppedOnManyThreadsDestroyExactlyOnce) {
    int deaths = 0;
    {
        QXPtr<Counted> shared(new Counted(&deaths));
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([shared] {
                for (int i = 0; i < 10000; ++i) {
                    QXPtr<Counted> copy = shared;
                    QXPtr<Counted> moved = std::move(copy);
                }
            });
        for (auto& thread : threads)
            thread.join();
        EXPECT_EQ(shared.useCount(), 1);
    }
    EXPECT_EQ(deaths, 1);
}

} // namespace
