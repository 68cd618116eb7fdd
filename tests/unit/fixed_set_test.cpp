// The fixed database set: fixed paths and order, stop at the first failure,
// one file-system object per operation released on every path.
#include "form1_fixture.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class FixedSetTest : public Form1Test {
protected:
    fakes::FileSystemObject::State& files() { return file_systems.state; }
};

TEST_F(FixedSetTest, NoCompFilesMeansOnlyFourTestsInOrder) {
    form.BorraBasesComp();
    EXPECT_THAT(log, ElementsAre("fso.create Scripting.FileSystemObject", "fso.fileexists \\vendrilo\\drok.comp",
                                 "fso.fileexists \\vendrilo\\pelso.comp", "fso.fileexists \\vendrilo\\drok2.comp",
                                 "fso.fileexists \\vendrilo\\pelso2.comp", "fso.release"));
    EXPECT_THAT(messages(), IsEmpty());
}

TEST_F(FixedSetTest, DeletesExactlyTheFilesThatExist) {
    files().files = {u"\\vendrilo\\pelso.comp", u"\\vendrilo\\pelso2.comp", u"\\vendrilo\\pelso.qev"};
    form.BorraBasesComp();
    EXPECT_THAT(log, ElementsAre("fso.create Scripting.FileSystemObject", "fso.fileexists \\vendrilo\\drok.comp",
                                 "fso.fileexists \\vendrilo\\pelso.comp", "fso.deletefile \\vendrilo\\pelso.comp",
                                 "fso.fileexists \\vendrilo\\drok2.comp", "fso.fileexists \\vendrilo\\pelso2.comp",
                                 "fso.deletefile \\vendrilo\\pelso2.comp", "fso.release"));
    EXPECT_THAT(files().files, ElementsAre(u"\\vendrilo\\pelso.qev"));
}

TEST_F(FixedSetTest, FirstFailedDeletionStopsAndReachesTheCaller) {
    files().files = {u"\\vendrilo\\drok.comp", u"\\vendrilo\\pelso.comp", u"\\vendrilo\\drok2.comp",
                     u"\\vendrilo\\pelso2.comp"};
    files().fail_delete[u"\\vendrilo\\drok.comp"] = u"Permiso denegado";
    try {
        form.BorraBasesComp();
        FAIL() << "the failure must reach the caller";
    } catch (const platform::Failure& failure) {
        EXPECT_EQ(failure.description(), u"Permiso denegado");
    }
    EXPECT_THAT(log, ElementsAre("fso.create Scripting.FileSystemObject", "fso.fileexists \\vendrilo\\drok.comp",
                                 "fso.deletefile \\vendrilo\\drok.comp", "fso.release"));
    EXPECT_EQ(files().files.size(), 4u);
    EXPECT_EQ(files().alive, 0);
    EXPECT_THAT(messages(), IsEmpty());
}

TEST_F(FixedSetTest, FailedExistenceTestStopsToo) {
    files().fail_exists[u"\\vendrilo\\drok2.comp"] = u"El disco no está preparado";
    EXPECT_THROW(form.BorraBasesComp(), platform::Failure);
    EXPECT_EQ(log.back(), "fso.release");
    EXPECT_EQ(log[log.size() - 2], "fso.fileexists \\vendrilo\\drok2.comp");
    EXPECT_EQ(files().alive, 0);
}

TEST_F(FixedSetTest, FailedCreationReachesTheCallerOfTheDeletion) {
    file_systems.fail_create.description = u"El componente no puede crear el objeto";
    EXPECT_THROW(form.BorraBasesComp(), platform::Failure);
    EXPECT_THAT(log, ElementsAre("fso.create Scripting.FileSystemObject"));
}

TEST_F(FixedSetTest, CopiesGoFromTheSetToDriveAWithoutAMessage) {
    Form1TestAccess::CopiaPelso2(form);
    Form1TestAccess::CopiaPelso(form);
    EXPECT_THAT(log, ElementsAre("fso.create Scripting.FileSystemObject",
                                 "fso.copyfile \\vendrilo\\pelso2.qev -> a:\\pelso2.qev", "fso.release",
                                 "fso.create Scripting.FileSystemObject",
                                 "fso.copyfile \\vendrilo\\pelso.qev -> a:\\pelso.qev", "fso.release"));
    EXPECT_THAT(messages(), IsEmpty());
}

TEST_F(FixedSetTest, FailedCopyIsReportedThenTheObjectReleased) {
    files().fail_copy = u"El disco no está preparado";
    EXPECT_NO_THROW(Form1TestAccess::CopiaPelso(form));
    EXPECT_THAT(log, ElementsAre("fso.create Scripting.FileSystemObject",
                                 "fso.copyfile \\vendrilo\\pelso.qev -> a:\\pelso.qev",
                                 "message El disco no está preparado", "fso.release"));
    EXPECT_EQ(messages().at(0).caption, u"Tarsolin");
    EXPECT_EQ(files().alive, 0);
}

TEST_F(FixedSetTest, FailedCreationIsReportedByTheCopy) {
    file_systems.fail_create.description = u"El componente no puede crear el objeto";
    EXPECT_NO_THROW(Form1TestAccess::CopiaPelso2(form));
    EXPECT_THAT(log, ElementsAre("fso.create Scripting.FileSystemObject",
                                 "message El componente no puede crear el objeto"));
}

TEST_F(FixedSetTest, SetOperationsLeaveFieldAndBarAlone) {
    base().text_ = u"x.mdb";
    files().files = {u"\\vendrilo\\drok.comp"};
    form.BorraBasesComp();
    Form1TestAccess::CopiaPelso(form);
    for (const auto& entry : log) {
        EXPECT_EQ(entry.rfind("Base", 0), std::string::npos) << entry;
        EXPECT_EQ(entry.rfind("estado", 0), std::string::npos) << entry;
    }
    EXPECT_EQ(base().text_, u"x.mdb");
}

}  // namespace
