#include <zubdm/mediator/ForkMarker.h>

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

using zubdm::internal::ForkMarker;

// Both ways of telling: the page a fork wipes, and the recorded process id.
TEST(ForkMarker, OnlyAForkedCopySeesItselfAsACopy) {
  for (const bool wipedPage : {true, false}) {
    SCOPED_TRACE(wipedPage ? "wiped page" : "process id");
    const ForkMarker marker(wipedPage);
    EXPECT_FALSE(marker.inCopy());
    const pid_t child = fork();
    if (child == 0) _exit(marker.inCopy() ? 0 : 1);
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0) << "the child did not see itself as a copy";
    EXPECT_FALSE(marker.inCopy()) << "the fork changed the parent's view";
  }
}
