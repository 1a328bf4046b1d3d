# Script mode: fails when the module's code holds a fused multiply-add, which
# rounds once where the source rounds twice (the sound would differ from the
# other processors' by the last bits).
#   cmake -DOBJDUMP=<objdump> -DMODULE=<file.so> -P CheckNoFusedMultiplyAdd.cmake
execute_process(COMMAND "${OBJDUMP}" -d --no-show-raw-insn "${MODULE}"
                OUTPUT_VARIABLE code RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed on ${MODULE}: ${err}")
endif()
# AArch64: fmadd fmsub fnmadd fnmsub (scalar), fmla fmls (vector);
# x86-64: the FMA3 and AVX-512 vfmadd... / vfnmsub... forms.
string(REGEX MATCHALL "\t(fn?m(add|sub)|fml[as]|vfn?m(add|sub)[0-9a-z]*)[ \t][^\n]*" found "${code}")
list(LENGTH found count)
if(count GREATER 0)
  list(SUBLIST found 0 5 first)
  string(REPLACE ";" "\n" first "${first}")
  message(FATAL_ERROR "${MODULE} holds ${count} fused multiply-add instructions, e.g.\n${first}")
endif()
message(STATUS "${MODULE}: no fused multiply-add")
