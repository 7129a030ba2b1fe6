// The inputs of every operation page as plain structs, members named after the page's
// controls. The window keeps them current from the widgets; tests and batch mode fill
// them directly. An operation reads a member at the moment it needs the value.
//
// visit() lists the members for generic code (widget binding, Control=value parsing):
//   v.text(name, std::string&), v.path(name, std::string&), v.check(name, bool&),
//   v.radio(name, group, bool&).
// A path is a file name or path: it keeps the file system's bytes and is never converted to
// the program's code page. Exactly one radio button of a group is true.
#pragma once

#include <string>
#include <string_view>

namespace fieldsmith::run {

//! Copy Field.
struct Seite1Inputs {
    std::string AliasBoxS1, TableBoxS1, IndexFeld1Box, Feld2Box;
    std::string AliasBox2, TabellenBox2, IndexFeld2Box, ZielFeldBox;
    bool GenNewRecsCheck = false, LeereTarget = false;

    template <class V> void visit(V&& v) {
        v.text("AliasBoxS1", AliasBoxS1);
        v.text("TableBoxS1", TableBoxS1);
        v.check("GenNewRecsCheck", GenNewRecsCheck);
        v.text("IndexFeld1Box", IndexFeld1Box);
        v.text("Feld2Box", Feld2Box);
        v.text("AliasBox2", AliasBox2);
        v.text("TabellenBox2", TabellenBox2);
        v.text("IndexFeld2Box", IndexFeld2Box);
        v.text("ZielFeldBox", ZielFeldBox);
        v.check("LeereTarget", LeereTarget);
    }
};

//! Change Field.
struct Seite2Inputs {
    std::string Change1Alias, Change1Table, Change1Field, vonEdit2, zuEdit2;
    bool CaseBox = false, ChangeSubBedBox = false;
    std::string BedingungFeld, Bedingung;

    template <class V> void visit(V&& v) {
        v.text("Change1Alias", Change1Alias);
        v.text("Change1Table", Change1Table);
        v.text("Change1Field", Change1Field);
        v.text("vonEdit2", vonEdit2);
        v.text("zuEdit2", zuEdit2);
        v.check("CaseBox", CaseBox);
        v.check("ChangeSubBedBox", ChangeSubBedBox);
        v.text("BedingungFeld", BedingungFeld);
        v.text("Bedingung", Bedingung);
    }
};

//! Change Field partially / convert.
struct Seite3Inputs {
    std::string Change2Alias, Change2Table, Change2Field, vonEdit, zuEdit;
    bool StringChange = true, LeerFeld = false, RemoveBlanks = false, OEMBtn = false,
         UpperCaseBtn = false, allUpperCaseBtn = false, allLowerCaseBtn = false,
         AddSiteIDBtn = false, removeCRLFBtn = false;
    bool SizeBox = false;
    std::string SizeEdit = "7";
    bool IfCheckAddString1 = false, IfCheckAddContain = true, IfCheckAddNotContain = false;
    std::string IfCheckAddString2 = "-";
    bool Index3Check = false;
    std::string Index3Box;
    std::string CRLFStellenEdit = "2";

    template <class V> void visit(V&& v) {
        v.text("Change2Alias", Change2Alias);
        v.text("Change2Table", Change2Table);
        v.text("Change2Field", Change2Field);
        v.text("vonEdit", vonEdit);
        v.text("zuEdit", zuEdit);
        v.radio("StringChange", "mode", StringChange);
        v.radio("LeerFeld", "mode", LeerFeld);
        v.radio("RemoveBlanks", "mode", RemoveBlanks);
        v.radio("OEMBtn", "mode", OEMBtn);
        v.radio("UpperCaseBtn", "mode", UpperCaseBtn);
        v.radio("allUpperCaseBtn", "mode", allUpperCaseBtn);
        v.radio("allLowerCaseBtn", "mode", allLowerCaseBtn);
        v.radio("AddSiteIDBtn", "mode", AddSiteIDBtn);
        v.radio("removeCRLFBtn", "mode", removeCRLFBtn);
        v.check("SizeBox", SizeBox);
        v.text("SizeEdit", SizeEdit);
        v.check("IfCheckAddString1", IfCheckAddString1);
        v.radio("IfCheckAddContain", "condition", IfCheckAddContain);
        v.radio("IfCheckAddNotContain", "condition", IfCheckAddNotContain);
        v.text("IfCheckAddString2", IfCheckAddString2);
        v.check("Index3Check", Index3Check);
        v.text("Index3Box", Index3Box);
        v.text("CRLFStellenEdit", CRLFStellenEdit);
    }
};

//! Merge Fields.
struct Seite4Inputs {
    std::string AliasMerge, MergeTable, Trenn0Edit, MergeFeld1, Trenn1Edit, MergeFeld2, Trenn2Edit,
        MergeFeld3, MergeTargetFeld;
    bool FeldLaengeCheck = false;
    std::string NumCharsEdit = "1";
    bool DelSourceCheck = false;

    template <class V> void visit(V&& v) {
        v.text("AliasMerge", AliasMerge);
        v.text("MergeTable", MergeTable);
        v.text("Trenn0Edit", Trenn0Edit);
        v.text("MergeFeld1", MergeFeld1);
        v.text("Trenn1Edit", Trenn1Edit);
        v.text("MergeFeld2", MergeFeld2);
        v.text("Trenn2Edit", Trenn2Edit);
        v.text("MergeFeld3", MergeFeld3);
        v.text("MergeTargetFeld", MergeTargetFeld);
        v.check("FeldLaengeCheck", FeldLaengeCheck);
        v.text("NumCharsEdit", NumCharsEdit);
        v.check("DelSourceCheck", DelSourceCheck);
    }
};

//! Add Primary.
struct Seite5Inputs {
    std::string AliasBox, TabellenBox, FeldBox;
    bool LeerFeldCheck = true;
    bool useNumberRadio = true, getPrimRadio = false;
    std::string NumberEdit = "50000";
    std::string PrimaryBox;
    bool AddPrimUsePrefixCheck = false;
    std::string AddPrimPrefixEdit;
    std::string AddPrimStartRecordEdit = "1";
    bool ChangeOnFeldChangeCheck = false;
    std::string ChangeOnFeldBox;

    template <class V> void visit(V&& v) {
        v.text("AliasBox", AliasBox);
        v.text("TabellenBox", TabellenBox);
        v.text("FeldBox", FeldBox);
        v.check("LeerFeldCheck", LeerFeldCheck);
        v.radio("useNumberRadio", "source", useNumberRadio);
        v.text("NumberEdit", NumberEdit);
        v.radio("getPrimRadio", "source", getPrimRadio);
        v.text("PrimaryBox", PrimaryBox);
        v.check("AddPrimUsePrefixCheck", AddPrimUsePrefixCheck);
        v.text("AddPrimPrefixEdit", AddPrimPrefixEdit);
        v.text("AddPrimStartRecordEdit", AddPrimStartRecordEdit);
        v.check("ChangeOnFeldChangeCheck", ChangeOnFeldChangeCheck);
        v.text("ChangeOnFeldBox", ChangeOnFeldBox);
    }
};

//! Format Prices.
struct Seite6Inputs {
    std::string PreisAlias1, PreisTable1, PreisFeld1;

    template <class V> void visit(V&& v) {
        v.text("PreisAlias1", PreisAlias1);
        v.text("PreisTable1", PreisTable1);
        v.text("PreisFeld1", PreisFeld1);
    }
};

//! new Value IF.
struct Seite7Inputs {
    std::string Change3Alias, Change3Table, Change3Feld, Change3If, Change3Feld2;
    bool ChangeUseString = true, ChangeUseIfField = false, ChangeUseOtherField = false;
    std::string Change3Then, OtherFieldBox;

    template <class V> void visit(V&& v) {
        v.text("Change3Alias", Change3Alias);
        v.text("Change3Table", Change3Table);
        v.text("Change3Feld", Change3Feld);
        v.text("Change3If", Change3If);
        v.text("Change3Feld2", Change3Feld2);
        v.radio("ChangeUseString", "source", ChangeUseString);
        v.text("Change3Then", Change3Then);
        v.radio("ChangeUseIfField", "source", ChangeUseIfField);
        v.radio("ChangeUseOtherField", "source", ChangeUseOtherField);
        v.text("OtherFieldBox", OtherFieldBox);
    }
};

//! Delete records.
struct DelPageInputs {
    std::string AliasDel, TableDel;
    bool DelOpt1 = false, DelOpt2 = true;
    std::string FieldDel, DelFeldBox;

    template <class V> void visit(V&& v) {
        v.text("AliasDel", AliasDel);
        v.text("TableDel", TableDel);
        v.radio("DelOpt1", "mode", DelOpt1);
        v.text("FieldDel", FieldDel);
        v.radio("DelOpt2", "mode", DelOpt2);
        v.text("DelFeldBox", DelFeldBox);
    }
};

//! CSV-Files, both directions.
struct CSVMakeTableInputs {
    std::string CSVEdit;
    std::string FeldSeparEdit = ";";
    std::string FeldEncloseEdit = "\"";
    bool FeldNamenCheck = true;
    std::string CSVtoPdxEdit;
    bool GenParadoxFromCSV = true, GenCSVFromParadox = false;
    bool CsvUseEncloseCharForFieldsCheck = true, noEncloseCharForEmptyFieldsCheck = true;

    template <class V> void visit(V&& v) {
        v.path("CSVEdit", CSVEdit);
        v.text("FeldSeparEdit", FeldSeparEdit);
        v.text("FeldEncloseEdit", FeldEncloseEdit);
        v.check("FeldNamenCheck", FeldNamenCheck);
        v.path("CSVtoPdxEdit", CSVtoPdxEdit);
        v.radio("GenParadoxFromCSV", "direction", GenParadoxFromCSV);
        v.radio("GenCSVFromParadox", "direction", GenCSVFromParadox);
        v.check("CsvUseEncloseCharForFieldsCheck", CsvUseEncloseCharForFieldsCheck);
        v.check("noEncloseCharForEmptyFieldsCheck", noEncloseCharForEmptyFieldsCheck);
    }
};

//! Create Table.
struct CreateTableSeiteInputs {
    std::string NeuTabAlias, NeuTabBox;
    bool IndexesCheck = false, CopyAllRecsCheck = false;
    std::string NeuTab2Alias, NeuTabelleEdit;
    bool OracleCheck = false;

    template <class V> void visit(V&& v) {
        v.text("NeuTabAlias", NeuTabAlias);
        v.text("NeuTabBox", NeuTabBox);
        v.check("IndexesCheck", IndexesCheck);
        v.check("CopyAllRecsCheck", CopyAllRecsCheck);
        v.text("NeuTab2Alias", NeuTab2Alias);
        v.text("NeuTabelleEdit", NeuTabelleEdit);
        v.check("OracleCheck", OracleCheck);
    }
};

//! ORACLE Import/Export.
struct ExportSeiteInputs {
    bool ExportSelect = true, ImportSelect = false;
    std::string ExportAlias, ExportTab, ExportTabOwnerEdit, ExportMaxRecEdit, ExportStartRecEdit,
        ExportFileEdit, LogFileEdit;

    template <class V> void visit(V&& v) {
        v.radio("ExportSelect", "mode", ExportSelect);
        v.radio("ImportSelect", "mode", ImportSelect);
        v.text("ExportAlias", ExportAlias);
        v.text("ExportTab", ExportTab);
        v.text("ExportTabOwnerEdit", ExportTabOwnerEdit);
        v.text("ExportMaxRecEdit", ExportMaxRecEdit);
        v.text("ExportStartRecEdit", ExportStartRecEdit);
        v.text("ExportFileEdit", ExportFileEdit);
        v.text("LogFileEdit", LogFileEdit);
    }
};

//! The inputs of all operation pages, one member per page, named after the page.
struct PageInputs {
    Seite1Inputs Seite1;
    Seite2Inputs Seite2;
    Seite3Inputs Seite3;
    Seite4Inputs Seite4;
    Seite5Inputs Seite5;
    Seite6Inputs Seite6;
    Seite7Inputs Seite7;
    DelPageInputs DelPage;
    CSVMakeTableInputs CSVMakeTable;
    CreateTableSeiteInputs CreateTableSeite;
    ExportSeiteInputs ExportSeite;

    //! Calls f with the inputs struct of the named page; false for a page without inputs.
    template <class F> bool withPage(std::string_view page, F&& f) {
        if (page == "Seite1") return f(Seite1), true;
        if (page == "Seite2") return f(Seite2), true;
        if (page == "Seite3") return f(Seite3), true;
        if (page == "Seite4") return f(Seite4), true;
        if (page == "Seite5") return f(Seite5), true;
        if (page == "Seite6") return f(Seite6), true;
        if (page == "Seite7") return f(Seite7), true;
        if (page == "DelPage") return f(DelPage), true;
        if (page == "CSVMakeTable") return f(CSVMakeTable), true;
        if (page == "CreateTableSeite") return f(CreateTableSeite), true;
        if (page == "ExportSeite") return f(ExportSeite), true;
        return false;
    }
    //! Calls f with every page's name and inputs.
    template <class F> void forEachPage(F&& f) {
        f("Seite1", Seite1);
        f("Seite2", Seite2);
        f("Seite3", Seite3);
        f("Seite4", Seite4);
        f("Seite5", Seite5);
        f("Seite6", Seite6);
        f("Seite7", Seite7);
        f("DelPage", DelPage);
        f("CSVMakeTable", CSVMakeTable);
        f("CreateTableSeite", CreateTableSeite);
        f("ExportSeite", ExportSeite);
    }
};

enum class SetInputResult { Ok, UnknownControl, BadValue };

//! Sets one input of a page by control name, as batch mode's Control=value does: text
//! members take the value as it is; check boxes and radio buttons take "1" or "0", and a
//! radio button set to "1" is selected in its group (the others of the group cleared).
SetInputResult setInput(PageInputs& inputs, std::string_view page, std::string_view control,
                        std::string_view value);

//! Whether the page's control holds a file name or path (visited as v.path).
bool isPathInput(PageInputs& inputs, std::string_view page, std::string_view control);

} // namespace fieldsmith::run
