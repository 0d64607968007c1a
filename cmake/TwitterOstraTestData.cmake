# SPDX-License-Identifier: BSD-3-Clause
# The service's answers (Twitter REST API v1.1) that the fake API server serves and the
# tests, benchmarks and fuzz seeds read: the project's own test data, in testdata/. Each
# file is checked here, and the build configures again when one goes, so that a missing
# file stops the configure with its name instead of failing tests after the build.
set(TWITTEROSTRA_TESTDATA_DIR ${PROJECT_SOURCE_DIR}/testdata/twitter-v1.1)
set(TWITTEROSTRA_TESTDATA_FILES
    account_verify_credentials.json
    direct_messages.json
    error_401_invalid_token.json
    error_401_oauth.json
    error_404_user.json
    error_429_rate_limit.json
    friends_list_page1.json
    friends_list_page2.json
    help_configuration.json
    home_timeline.json
    mentions_timeline.json
    users_show_alice.json)

set(_missing)
foreach(_name IN LISTS TWITTEROSTRA_TESTDATA_FILES)
    if(EXISTS ${TWITTEROSTRA_TESTDATA_DIR}/${_name})
        set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
            ${TWITTEROSTRA_TESTDATA_DIR}/${_name})
    else()
        list(APPEND _missing ${_name})
    endif()
endforeach()
if(_missing)
    list(JOIN _missing ", " _missing)
    message(FATAL_ERROR "Test data missing from ${TWITTEROSTRA_TESTDATA_DIR}: ${_missing}. "
        "The tests, the test kit and the fuzz seeds read these files; they are part of the "
        "source tree (git checkout -- testdata restores them). -DBUILD_TESTING=OFF builds "
        "the daemon alone, without them.")
endif()
