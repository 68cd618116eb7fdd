// Staged page edits in a repair: held back from the copy until committed, and no other
// write to the copy may slip in between.
#include <gtest/gtest.h>

#include "corpus_support.h"
#include "jet/engine.h"
#include "jet/file/recovery_file.h"
#include "jet/file/safe_commit.h"
#include "jet/format/header.h"
#include "jet/repair/repair.h"
#include "fix_context_copy.h"

namespace fs = std::filesystem;
using namespace damage;

TEST(StagedPages, EditsReachTheCopyOnlyOnCommitAndNothingInterleaves) {
    const fs::path source = corpus_dir() / "jackcess/V2003/compIndexTestV2003.mdb";
    if (!fs::exists(source)) GTEST_SKIP() << "corpus file missing: " << source;
    FixContextOnCopy on(source);
    ASSERT_TRUE(on.parsed.header);
    jet::FixContext& context = on.context;
    const std::vector<uint8_t> before = context.read_page(3);

    {
        jet::StagedPages staged(context);
        EXPECT_THROW(jet::StagedPages second(context), jet::EngineError) << "two sets of held edits";
        staged.page(3)[100] ^= 0xFF;
        context.write_page(4, context.read_page(4));  // nothing held yet: writes go ahead
        staged.changed(3);
        EXPECT_EQ(context.read_page(3), before) << "held back until the commit";
        EXPECT_THROW(context.write_page(5, context.read_page(5)), jet::EngineError);
        EXPECT_THROW(context.append_page(std::vector<uint8_t>(context.page_size(), 0)), jet::EngineError);
        staged.commit();
        EXPECT_NE(context.read_page(3), before);
        EXPECT_NO_THROW(context.write_page(5, context.read_page(5)));
    }
    {
        jet::StagedPages dropped(context);
        dropped.page(3)[100] ^= 0xFF;
        dropped.changed(3);
    }
    EXPECT_NE(context.read_page(3), before) << "edits never committed are dropped";
    EXPECT_NO_THROW(jet::StagedPages again(context)) << "a finished set frees the way";
}
