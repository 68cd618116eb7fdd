// The repair flow: order of effects, the engine slot, and every failure path.
#include "form1_fixture.h"

using ::testing::ElementsAre;

namespace {

const std::u16string kOk = u"Las Bases de datos han sido reparadas ";

TEST_F(Form1Test, SuccessfulRepairStepsTheBarAroundTheEngine) {
    base().text_ = u"/datos/ventas.mdb";
    window().click("Command1");
    EXPECT_THAT(log, ElementsAre("estado.max 3", "estado.value 1", "engine.create", "Base.text",
                                 "engine.repair /datos/ventas.mdb", "estado.value 3",
                                 "message Las Bases de datos han sido reparadas ", "estado.value 0"));
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0].text, kOk);
    EXPECT_EQ(messages()[0].text.size(), 38u);
    EXPECT_EQ(messages()[0].caption, u"Tarsolin");
    EXPECT_EQ(bar().max_, 3.0f);
    EXPECT_EQ(bar().value_, 0.0f);
}

TEST_F(Form1Test, PathReachesTheEngineUnchanged) {
    const std::u16string path = u"  /tmp/Año 2024/ñandú \"copia\".accdb ";
    base().text_ = path;
    form.Reparar_Bases();
    ASSERT_NE(engines.last, nullptr);
    EXPECT_THAT(engines.last->names, ElementsAre(path));
}

TEST_F(Form1Test, EmptyPathShowsTheEngineDescriptionAndLeavesBarAtOneThird) {
    engines.repair_failures.push_back(u"No se encontró el archivo ''.");
    form.Reparar_Bases();
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0].text, u"No se encontró el archivo ''.");
    EXPECT_EQ(messages()[0].caption, u"Tarsolin");
    EXPECT_EQ(bar().max_, 3.0f);
    EXPECT_EQ(bar().value_, 1.0f);
    EXPECT_EQ(log.back(), "message No se encontró el archivo ''.");
}

TEST_F(Form1Test, EngineIsCreatedOnceAndReusedByLaterRepairs) {
    base().text_ = u"a.mdb";
    form.Reparar_Bases();
    auto* first = engines.last;
    log.clear();
    form.Reparar_Bases();
    EXPECT_EQ(engines.attempts, 1);
    EXPECT_EQ(engines.last, first);
    EXPECT_THAT(log, ElementsAre("estado.max 3", "estado.value 1", "Base.text", "engine.repair a.mdb",
                                 "estado.value 3", "message Las Bases de datos han sido reparadas ",
                                 "estado.value 0"));
}

TEST_F(Form1Test, EngineCreatedByAFailedRepairIsKept) {
    engines.repair_failures.push_back(u"La base de datos está en uso.");
    form.Reparar_Bases();
    EXPECT_TRUE(Form1TestAccess::engine_slot_filled());
    form.Reparar_Bases();
    EXPECT_EQ(engines.attempts, 1);
    EXPECT_EQ(messages().back().text, kOk);
}

TEST_F(Form1Test, FailedCreationLeavesSlotEmptyAndIsRetried) {
    engines.fail_create.description = u"No se puede crear el motor de base de datos.";
    form.Reparar_Bases();
    EXPECT_FALSE(Form1TestAccess::engine_slot_filled());
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0].text, u"No se puede crear el motor de base de datos.");
    EXPECT_EQ(bar().value_, 1.0f);
    EXPECT_THAT(log, ElementsAre("estado.max 3", "estado.value 1", "engine.create",
                                 "message No se puede crear el motor de base de datos."));

    engines.fail_create.description.clear();
    form.Reparar_Bases();
    EXPECT_EQ(engines.attempts, 2);
    EXPECT_TRUE(Form1TestAccess::engine_slot_filled());
    EXPECT_EQ(messages().back().text, kOk);
}

TEST_F(Form1Test, FailedRepairThenSuccessStartsAgainFromOne) {
    engines.repair_failures.push_back(u"El archivo no es una base de datos.");
    form.Reparar_Bases();
    log.clear();
    form.Reparar_Bases();
    EXPECT_THAT(log, ElementsAre("estado.max 3", "estado.value 1", "Base.text", "engine.repair ", "estado.value 3",
                                 "message Las Bases de datos han sido reparadas ", "estado.value 0"));
}

TEST_F(Form1Test, FailureReadingThePathIsReported) {
    base().fail_read.description = u"No se puede leer el campo.";
    form.Reparar_Bases();
    EXPECT_EQ(messages().at(0).text, u"No se puede leer el campo.");
    EXPECT_TRUE(engines.last->names.empty());
    EXPECT_EQ(bar().value_, 1.0f);
}

TEST_F(Form1Test, FailureOfTheBarStopsBeforeTheEngine) {
    bar().fail_max.description = u"Valor de propiedad no válido.";
    form.Reparar_Bases();
    EXPECT_EQ(engines.attempts, 0);
    EXPECT_THAT(log, ElementsAre("estado.max 3", "message Valor de propiedad no válido."));
}

TEST_F(Form1Test, FailureOfTheSuccessMessageIsReportedAndBarStaysFull) {
    windows.box.fail_once.description = u"No hay memoria suficiente.";
    form.Reparar_Bases();
    ASSERT_EQ(messages().size(), 2u);
    EXPECT_EQ(messages()[0].text, kOk);
    EXPECT_EQ(messages()[1].text, u"No hay memoria suficiente.");
    EXPECT_EQ(bar().value_, 3.0f);
}

TEST_F(Form1Test, ForeignExceptionIsReportedWithItsText) {
    engines.repair_failures.push_back(u"<std>");
    form.Reparar_Bases();
    EXPECT_EQ(messages().at(0).text, u"fallo estándar");
}

TEST_F(Form1Test, RepairButtonRunsTheRepair) {
    base().text_ = u"b.mdb";
    Form1TestAccess::Command1_Click(form);
    EXPECT_EQ(messages().at(0).text, kOk);
    log.clear();
    window().click("Command1");
    EXPECT_EQ(log.back(), "estado.value 0");
}

}  // namespace
