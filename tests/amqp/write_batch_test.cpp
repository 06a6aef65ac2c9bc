#include "amqp/write_batch.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>
#include <vector>

namespace {

struct recording_member : write_batch::member
{
    recording_member(std::vector<int>* log, int name)
        : log(log)
        , name(name)
    { }
    void end_write_batch() override { log->push_back(name); }
    std::vector<int>* log;
    int name;
};

void one_pass()
{
    QCoreApplication::processEvents();
}

TEST(WriteBatch, MembersAreToldOnceWhenThePassEndsInTheOrderTheyJoined)
{
    std::vector<int> told;
    recording_member first(&told, 1), second(&told, 2), gone(&told, 3);
    ASSERT_TRUE(write_batch::join(&first));
    ASSERT_TRUE(write_batch::join(&gone));
    ASSERT_TRUE(write_batch::join(&second));
    write_batch::leave(&gone);
    EXPECT_TRUE(told.empty()) << "nothing before the pass ends";
    one_pass();
    EXPECT_EQ(told, (std::vector<int> { 1, 2 }));
    one_pass();
    EXPECT_EQ(told, (std::vector<int> { 1, 2 })) << "a member is told once per join";
}

TEST(WriteBatch, PassOfANestedLoopEndsOnItsOwn)
{
    std::vector<int> told;
    recording_member outer(&told, 1), inner(&told, 2);
    ASSERT_TRUE(write_batch::join(&outer));
    std::vector<int> seen_inside;
    QEventLoop nested;
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(write_batch::join(&inner));
        QTimer::singleShot(0, [&] {
            seen_inside = told;
            nested.quit();
        });
    });
    nested.exec();
    EXPECT_EQ(seen_inside, (std::vector<int> { 1, 2 }))
        << "what joined before or inside the nested loop is told while it runs";
}

TEST(WriteBatch, MemberLeavingWhileOthersAreToldIsSkipped)
{
    std::vector<int> told;
    recording_member second(&told, 2);
    struct leaving_member : write_batch::member
    {
        void end_write_batch() override
        {
            log->push_back(1);
            write_batch::leave(other);
        }
        std::vector<int>* log;
        write_batch::member* other;
    } first;
    first.log = &told;
    first.other = &second;
    ASSERT_TRUE(write_batch::join(&first));
    ASSERT_TRUE(write_batch::join(&second));
    one_pass();
    EXPECT_EQ(told, (std::vector<int> { 1 }));
}

} // namespace
