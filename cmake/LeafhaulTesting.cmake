# The headers every test source parses, precompiled once per folder by
# leafhaul_add_test. A folder may append its own heavy headers before its
# first test.
set(LEAFHAUL_TEST_PCH_HEADERS
  <gtest/gtest.h>
  <QByteArray> <QCoreApplication> <QDir> <QFile> <QJsonArray> <QJsonDocument>
  <QJsonObject> <QObject> <QProcess> <QString> <QStringList> <QTemporaryDir>
  <QThread> <QTimer> <QUrl>
  <functional> <memory> <string> <vector>)

# leafhaul_add_test(<name> SOURCES ... LIBS ... [GUI] [RESOURCE_LOCK <name>])
# One gtest binary; GUI tests get a QApplication, the rest a QCoreApplication.
# Tests that share a RESOURCE_LOCK (such as the one login keyring) never run
# at the same time as each other. Under the sanitizers (scripts/test
# --sanitize) GUI tests run without leak checks, as Mesa and WebEngine keep
# allocations for the life of the process, and without the sized-delete
# check, which WebEngine's page destructor fails inside its own code.
function(leafhaul_add_test name)
  cmake_parse_arguments(T "GUI" "RESOURCE_LOCK" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  if(T_GUI)
    target_link_libraries(${name} PRIVATE leafhaul_testmain_gui)
  else()
    target_link_libraries(${name} PRIVATE leafhaul_testmain)
  endif()
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock)
  # gtest's EXPECT macros end in an if/else of their own, so gcc takes an
  # unbraced `if (x) EXPECT_EQ(...)` for an ambiguous else.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${name} PRIVATE -Wno-dangling-else)
  endif()
  target_compile_definitions(${name} PRIVATE
    LEAFHAUL_PYTHON="${LEAFHAUL_PYTHON}"
    LEAFHAUL_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}")
  # Every test source parses gtest and much of Qt Core: the first test of a
  # folder precompiles them and the folder's other tests reuse that (one
  # header per folder, as TEST_DATA_DIR differs between folders).
  get_directory_property(pch_owner LEAFHAUL_TEST_PCH)
  if(pch_owner)
    target_precompile_headers(${name} REUSE_FROM ${pch_owner})
  else()
    target_precompile_headers(${name} PRIVATE ${LEAFHAUL_TEST_PCH_HEADERS})
    set_directory_properties(PROPERTIES LEAFHAUL_TEST_PCH ${name})
  endif()
  set(more)
  if(T_RESOURCE_LOCK)
    set(more RESOURCE_LOCK ${T_RESOURCE_LOCK})
  endif()
  # libsecret's leaks sit below GLib frames built without frame pointers:
  # the keyring's tests record whole allocation stacks (slow) so that
  # scripts/sanitizers/lsan.supp can name those frames.
  set(asan)
  if(T_GUI)
    string(APPEND asan ":detect_leaks=0:new_delete_type_mismatch=0")
  elseif(T_RESOURCE_LOCK STREQUAL "keyring")
    string(APPEND asan ":fast_unwind_on_malloc=0")
  endif()
  if(asan)
    list(APPEND more ENVIRONMENT_MODIFICATION "ASAN_OPTIONS=string_append:${asan}")
  endif()
  # NO_PRETTY_VALUES: a parameterised case's ctest name is its gtest name,
  # without the printed parameter (a record prints as its bytes, pointers
  # included), so that a failing case can be run again by that name.
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST NO_PRETTY_VALUES
    PROPERTIES TIMEOUT 300 ENVIRONMENT "LEAFHAUL_PYTHON=${LEAFHAUL_PYTHON}" ${more})
endfunction()

# Prefix for the command of a libFuzzer run inside ctest. A run must be the
# same on every machine and every time (give it -seed, -runs and a corpus
# folder emptied before it): address layout reaches the coverage through
# pointer hashes and comparisons, so it runs without address randomisation
# where the kernel allows that.
set(LEAFHAUL_FUZZ_LAUNCHER sh -c
    "setarch -R true 2>/dev/null && exec setarch -R \"$@\" || exec \"$@\"" fuzz)

# Fuzz targets build at -O1 with line tables only: far less compile time than
# -O2 -g, and the sanitizers' reports still name file and line.
set(LEAFHAUL_FUZZ_CODEGEN -O1 -gline-tables-only)
# Seed writers run once per test on a few hundred inputs: unoptimised, they
# compile in a third of the time.
set(LEAFHAUL_SEED_WRITER_CODEGEN -O0 -g0)

# leafhaul_add_fuzzer(<target> TEST <name> RUNS <n> MAX_LEN <n>
#                     SOURCES ... [LIBS ...] [SEEDS <folder> | SEED_WRITER <target>]
#                     [FLAGS <libFuzzer flag>...] [SANITIZERS <flag>...] [UBSAN_SUPPRESSIONS <file>])
# A libFuzzer target (clang only) and its ctest run of RUNS inputs from seed 1,
# started from an empty corpus: <TEST>.EmptyCorpus empties it first, or
# <TEST>.WriteSeeds runs SEED_WRITER with the seed and corpus folders.
function(leafhaul_add_fuzzer target)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    return()
  endif()
  cmake_parse_arguments(F "" "TEST;RUNS;MAX_LEN;SEEDS;SEED_WRITER;UBSAN_SUPPRESSIONS"
                        "SOURCES;LIBS;FLAGS;SANITIZERS" ${ARGN})
  if(NOT F_SANITIZERS)
    set(F_SANITIZERS -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
  endif()
  add_executable(${target} ${F_SOURCES})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${target} PRIVATE ${F_LIBS})
  target_compile_options(${target} PRIVATE ${F_SANITIZERS} ${LEAFHAUL_FUZZ_CODEGEN})
  target_link_options(${target} PRIVATE ${F_SANITIZERS})

  set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${target}-corpus)
  if(F_SEED_WRITER)
    set(seeds ${CMAKE_CURRENT_BINARY_DIR}/${target}-seeds)
    add_test(NAME ${F_TEST}.WriteSeeds COMMAND ${F_SEED_WRITER} ${seeds} ${corpus})
    set(setup ${F_TEST}.WriteSeeds)
  else()
    set(seeds ${F_SEEDS})
    add_test(NAME ${F_TEST}.EmptyCorpus COMMAND ${CMAKE_COMMAND} -E rm -rf ${corpus})
    set(setup ${F_TEST}.EmptyCorpus)
  endif()
  add_test(NAME ${F_TEST}.Run
    COMMAND ${LEAFHAUL_FUZZ_LAUNCHER} $<TARGET_FILE:${target}> -seed=1 -runs=${F_RUNS}
            -reload=0 -create_missing_dirs=1 -max_len=${F_MAX_LEN} -rss_limit_mb=1024 ${F_FLAGS}
            -print_final_stats=1 -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/${target}-
            ${corpus} ${seeds})
  set(ubsan halt_on_error=1:print_stacktrace=1)
  if(F_UBSAN_SUPPRESSIONS)
    set(ubsan ${ubsan}:suppressions=${F_UBSAN_SUPPRESSIONS})
  endif()
  set_tests_properties(${setup} PROPERTIES FIXTURES_SETUP ${target}_corpus)
  set_tests_properties(${F_TEST}.Run PROPERTIES FIXTURES_REQUIRED ${target}_corpus TIMEOUT 120
    ENVIRONMENT "UBSAN_OPTIONS=${ubsan}")
endfunction()
