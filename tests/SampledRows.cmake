# The update procedure's two long tables: the recovery rows
# (UpdateInterruption, 56, each two whole runs) and the fault matrix
# (UpdateFault, 97). The normal tree runs them in full; the sanitizer trees,
# where each row costs several times as much, and the Windows tree, where each
# test is a Wine process of its own, run this sample: every kind of cut at the
# start, in the middle of the data and at the last poll, and one fault of each
# kind (time-out, late reply, wrong byte 0, unexpected reply, removal, removal
# and return, refusal with a reason).
set(TRB_SAMPLED_ROWS
    "*/UpdateInterruption.*AtPrepare"
    ":*/UpdateInterruption.*AtDataInTheMiddleOfExtra"
    ":*/UpdateInterruption.*AtLastPollOfInfo"
    ":*/UpdateFault.*/TimeoutDataInTheSecondBlock"
    ":*/UpdateFault.*/LateData"
    ":*/UpdateFault.*/WrongByte0Checksum"
    ":*/UpdateFault.*/PollAnsweredWithInfo"
    ":*/UpdateFault.*/RemovedAtDataInTheSecondBlock"
    ":*/UpdateFault.*/RemovedAtPollAndPluggedInAgain"
    ":*/UpdateFault.*/StatusRefusedWithReason6"
    ":*/UpdateFault.*/DataRefusedWithReason3")
string(CONCAT TRB_SAMPLED_ROWS ${TRB_SAMPLED_ROWS})
# Every row of both tables, to leave them out where the sample stands in.
set(TRB_ALL_ROWS "*/UpdateInterruption.*:*/UpdateFault.*")
