#pragma once

// The numbered steps of "Start Changing" and "Undo Last Change", as their
// error reports name them ("at line N"). Each operation's own steps, from
// FirstOperationTest on, follow from the catalogue (StepsOfOperation).
namespace RunSteps
{
constexpr int NewConnection = 100;
constexpr int NewRows = 102; // the rows are read into a snapshot at OpenRows
constexpr int FieldListed = 104;
constexpr int Hourglass = 106;
constexpr int ClientCursor = 108; // the snapshot knows its row count
constexpr int OpenConnection = 110;
constexpr int OpenRows = 112; // also every read of a row
constexpr int LastRow = 120;
constexpr int AnyRows = 122;
constexpr int FirstOperationTest = 124;
// The refill and the close after the last operation.
constexpr int CloseRows = 646;
constexpr int ReopenRows = 648;
constexpr int ClearPreview = 650;
constexpr int RefillHourglass = 652;
constexpr int RefillCountStart = 654;
constexpr int RefillField = 656;
constexpr int RefillFirstEvents = 658;
constexpr int RefillLoopTest = 660;
constexpr int RefillEvents = 662;
constexpr int RefillAddEntry = 664;
constexpr int RefillNextRow = 666;
constexpr int RefillCount = 668;
constexpr int CloseRefill = 672;
constexpr int DefaultPointer = 674;
constexpr int DoneMessage = 678;
constexpr int PleaseSelectField = 680;
} // namespace RunSteps

namespace UndoSteps
{
constexpr int ReadRun = 100;
constexpr int OpenConnection = 102;
constexpr int FindRows = 104;
constexpr int LoopHead = 106;
constexpr int WriteBack = 108;
constexpr int Progress = 110;
constexpr int MarkUndone = 112;
constexpr int DefaultPointer = 114;
} // namespace UndoSteps
