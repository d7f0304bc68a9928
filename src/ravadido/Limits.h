#pragma once

// The service's limits: lengths, formats (ICU regular expressions), MIME
// types, counts and sizes. Nothing in the application checks against them;
// the records carry values unchecked.

#include <cstdint>
#include <set>
#include <string>
#include <string_view>

namespace ravadido {

struct RURULimitsConstants
{
    static constexpr std::int32_t RURU_ATTRIBUTE_LEN_MIN() { return 1; }
    static constexpr std::int32_t RURU_ATTRIBUTE_LEN_MAX() { return 4096; }
    static constexpr std::string_view RURU_ATTRIBUTE_REGEX() { return R"(^[^\p{Cc}\p{Zl}\p{Zp}]{1,4096}$)"; }
    static constexpr std::int32_t RURU_ATTRIBUTE_LIST_MAX() { return 100; }
    static constexpr std::int32_t RURU_ATTRIBUTE_MAP_MAX() { return 100; }

    static constexpr std::int32_t RURU_GUID_LEN_MIN() { return 36; }
    static constexpr std::int32_t RURU_GUID_LEN_MAX() { return 36; }
    static constexpr std::string_view RURU_GUID_REGEX()
    {
        return R"(^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$)";
    }

    static constexpr std::int32_t RURU_EMAIL_LEN_MIN() { return 6; }
    static constexpr std::int32_t RURU_EMAIL_LEN_MAX() { return 255; }
    static constexpr std::string_view RURU_EMAIL_LOCAL_REGEX()
    {
        return R"(^[A-Za-z0-9!#$%&'*+/=?^_`{|}~-]+(\.[A-Za-z0-9!#$%&'*+/=?^_`{|}~-]+)*$)";
    }
    static constexpr std::string_view RURU_EMAIL_DOMAIN_REGEX()
    {
        return R"(^[A-Za-z0-9-]+(\.[A-Za-z0-9-]+)*\.([A-Za-z]{2,})$)";
    }
    static constexpr std::string_view RURU_EMAIL_REGEX()
    {
        return R"(^[A-Za-z0-9!#$%&'*+/=?^_`{|}~-]+(\.[A-Za-z0-9!#$%&'*+/=?^_`{|}~-]+)*@[A-Za-z0-9-]+(\.[A-Za-z0-9-]+)*\.([A-Za-z]{2,})$)";
    }

    static constexpr std::int32_t RURU_TIMEZONE_LEN_MIN() { return 1; }
    static constexpr std::int32_t RURU_TIMEZONE_LEN_MAX() { return 32; }
    static constexpr std::string_view RURU_TIMEZONE_REGEX()
    {
        return R"(^([A-Za-z_-]+(/[A-Za-z_-]+)*)|(GMT(-|\+)[0-9]{1,2}(:[0-9]{2})?)$)";
    }

    static constexpr std::int32_t RURU_MIME_LEN_MIN() { return 3; }
    static constexpr std::int32_t RURU_MIME_LEN_MAX() { return 255; }
    static constexpr std::string_view RURU_MIME_REGEX() { return R"(^[A-Za-z]+/[A-Za-z0-9._+-]+$)"; }
    static constexpr std::string_view RURU_MIME_TYPE_GIF() { return "image/gif"; }
    static constexpr std::string_view RURU_MIME_TYPE_JPEG() { return "image/jpeg"; }
    static constexpr std::string_view RURU_MIME_TYPE_PNG() { return "image/png"; }
    static constexpr std::string_view RURU_MIME_TYPE_WAV() { return "audio/wav"; }
    static constexpr std::string_view RURU_MIME_TYPE_MP3() { return "audio/mpeg"; }
    static constexpr std::string_view RURU_MIME_TYPE_AMR() { return "audio/amr"; }
    static constexpr std::string_view RURU_MIME_TYPE_MP4_VIDEO() { return "video/mp4"; }
    static constexpr std::string_view RURU_MIME_TYPE_INK() { return "application/vnd.ravadido.ink"; }
    static constexpr std::string_view RURU_MIME_TYPE_PDF() { return "application/pdf"; }
    static constexpr std::string_view RURU_MIME_TYPE_DEFAULT() { return "application/octet-stream"; }
    // The types above but the default; built once, on first use, and never
    // changed, so any thread may read it.
    static const std::set<std::string> &RURU_MIME_TYPES();

    static constexpr std::string_view RURU_COMMERCE_SERVICE_GOOGLE() { return "Google"; }
    static constexpr std::string_view RURU_COMMERCE_SERVICE_PAYPAL() { return "Paypal"; }
    static constexpr std::string_view RURU_COMMERCE_SERVICE_GIFT() { return "Gift"; }
    static constexpr std::string_view RURU_COMMERCE_SERVICE_TRIALPAY() { return "TrialPay"; }
    static constexpr std::string_view RURU_COMMERCE_SERVICE_TRIAL() { return "Trial"; }
    static constexpr std::string_view RURU_COMMERCE_SERVICE_GROUP() { return "Group"; }
    static constexpr std::string_view RURU_COMMERCE_SERVICE_CYBERSOURCE() { return "CYBERSRC"; }
    static constexpr std::string_view RURU_COMMERCE_DEFAULT_CURRENCY_COUNTRY_CODE() { return "USD"; }

    static constexpr std::int32_t RURU_SEARCH_QUERY_LEN_MIN() { return 0; }
    static constexpr std::int32_t RURU_SEARCH_QUERY_LEN_MAX() { return 1024; }
    static constexpr std::string_view RURU_SEARCH_QUERY_REGEX() { return R"(^[^\p{Cc}\p{Zl}\p{Zp}]{0,1024}$)"; }

    static constexpr std::int32_t RURU_HASH_LEN() { return 16; }

    static constexpr std::int32_t RURU_USER_USERNAME_LEN_MIN() { return 1; }
    static constexpr std::int32_t RURU_USER_USERNAME_LEN_MAX() { return 64; }
    static constexpr std::string_view RURU_USER_USERNAME_REGEX() { return R"(^[a-z0-9]([a-z0-9_-]{0,62}[a-z0-9])?$)"; }

    static constexpr std::int32_t RURU_USER_NAME_LEN_MIN() { return 1; }
    static constexpr std::int32_t RURU_USER_NAME_LEN_MAX() { return 255; }
    static constexpr std::string_view RURU_USER_NAME_REGEX() { return R"(^[^\p{Cc}\p{Zl}\p{Zp}]{1,255}$)"; }

    static constexpr std::int32_t RURU_TAG_NAME_LEN_MIN() { return 1; }
    static constexpr std::int32_t RURU_TAG_NAME_LEN_MAX() { return 100; }
    static constexpr std::string_view RURU_TAG_NAME_REGEX()
    {
        return R"(^[^,\p{Cc}\p{Z}]([^,\p{Cc}\p{Zl}\p{Zp}]{0,98}[^,\p{Cc}\p{Z}])?$)";
    }

    static constexpr std::int32_t RURU_NOTE_TITLE_LEN_MIN() { return 1; }
    static constexpr std::int32_t RURU_NOTE_TITLE_LEN_MAX() { return 255; }
    static constexpr std::string_view RURU_NOTE_TITLE_REGEX()
    {
        return R"(^[^\p{Cc}\p{Z}]([^\p{Cc}\p{Zl}\p{Zp}]{0,253}[^\p{Cc}\p{Z}])?$)";
    }

    static constexpr std::int32_t RURU_NOTE_CONTENT_LEN_MIN() { return 0; }
    static constexpr std::int32_t RURU_NOTE_CONTENT_LEN_MAX() { return 5242880; }

    static constexpr std::int32_t RURU_APPLICATIONDATA_NAME_LEN_MIN() { return 3; }
    static constexpr std::int32_t RURU_APPLICATIONDATA_NAME_LEN_MAX() { return 32; }
    static constexpr std::int32_t RURU_APPLICATIONDATA_VALUE_LEN_MIN() { return 0; }
    static constexpr std::int32_t RURU_APPLICATIONDATA_VALUE_LEN_MAX() { return 4092; }
    static constexpr std::int32_t RURU_APPLICATIONDATA_ENTRY_LEN_MAX() { return 4095; }
    static constexpr std::string_view RURU_APPLICATIONDATA_NAME_REGEX() { return R"(^[A-Za-z0-9_.-]{3,32}$)"; }
    static constexpr std::string_view RURU_APPLICATIONDATA_VALUE_REGEX() { return R"(^[^\p{Cc}]{0,4092}$)"; }

    static constexpr std::int32_t RURU_NOTEBOOK_NAME_LEN_MIN() { return 1; }
    static constexpr std::int32_t RURU_NOTEBOOK_NAME_LEN_MAX() { return 100; }
    static constexpr std::string_view RURU_NOTEBOOK_NAME_REGEX()
    {
        return R"(^[^\p{Cc}\p{Z}]([^\p{Cc}\p{Zl}\p{Zp}]{0,98}[^\p{Cc}\p{Z}])?$)";
    }

    static constexpr std::int32_t RURU_NOTEBOOK_STACK_LEN_MIN() { return 1; }
    static constexpr std::int32_t RURU_NOTEBOOK_STACK_LEN_MAX() { return 100; }
    static constexpr std::string_view RURU_NOTEBOOK_STACK_REGEX()
    {
        return R"(^[^\p{Cc}\p{Z}]([^\p{Cc}\p{Zl}\p{Zp}]{0,98}[^\p{Cc}\p{Z}])?$)";
    }

    static constexpr std::int32_t RURU_PUBLISHING_URI_LEN_MIN() { return 1; }
    static constexpr std::int32_t RURU_PUBLISHING_URI_LEN_MAX() { return 255; }
    static constexpr std::string_view RURU_PUBLISHING_URI_REGEX() { return R"(^[a-zA-Z0-9.~_+-]{1,255}$)"; }
    // Holds "..": built once, on first use, and never changed.
    static const std::set<std::string> &RURU_PUBLISHING_URI_PROHIBITED();

    static constexpr std::int32_t RURU_PUBLISHING_DESCRIPTION_LEN_MIN() { return 1; }
    static constexpr std::int32_t RURU_PUBLISHING_DESCRIPTION_LEN_MAX() { return 200; }
    static constexpr std::string_view RURU_PUBLISHING_DESCRIPTION_REGEX()
    {
        return R"(^[^\p{Cc}\p{Z}]([^\p{Cc}\p{Zl}\p{Zp}]{0,198}[^\p{Cc}\p{Z}])?$)";
    }

    static constexpr std::int32_t RURU_SAVED_SEARCH_NAME_LEN_MIN() { return 1; }
    static constexpr std::int32_t RURU_SAVED_SEARCH_NAME_LEN_MAX() { return 100; }
    static constexpr std::string_view RURU_SAVED_SEARCH_NAME_REGEX()
    {
        return R"(^[^\p{Cc}\p{Z}]([^\p{Cc}\p{Zl}\p{Zp}]{0,98}[^\p{Cc}\p{Z}])?$)";
    }

    static constexpr std::int32_t RURU_USER_PASSWORD_LEN_MIN() { return 6; }
    static constexpr std::int32_t RURU_USER_PASSWORD_LEN_MAX() { return 64; }
    static constexpr std::string_view RURU_USER_PASSWORD_REGEX()
    {
        return R"(^[A-Za-z0-9!#$%&'()*+,./:;<=>?@^_`{|}~\[\]\\-]{6,64}$)";
    }

    static constexpr std::int32_t RURU_NOTE_TAGS_MAX() { return 100; }
    static constexpr std::int32_t RURU_NOTE_RESOURCES_MAX() { return 1000; }
    static constexpr std::int32_t RURU_USER_TAGS_MAX() { return 100000; }
    static constexpr std::int32_t RURU_USER_SAVED_SEARCHES_MAX() { return 100; }
    static constexpr std::int32_t RURU_USER_NOTES_MAX() { return 100000; }
    static constexpr std::int32_t RURU_USER_NOTEBOOKS_MAX() { return 250; }
    static constexpr std::int32_t RURU_USER_RECENT_MAILED_ADDRESSES_MAX() { return 10; }

    static constexpr std::int32_t RURU_USER_MAIL_LIMIT_DAILY_FREE() { return 50; }
    static constexpr std::int32_t RURU_USER_MAIL_LIMIT_DAILY_PREMIUM() { return 200; }
    static constexpr std::int64_t RURU_USER_UPLOAD_LIMIT_FREE() { return 62914560; }
    static constexpr std::int64_t RURU_USER_UPLOAD_LIMIT_PREMIUM() { return 1073741824; }
    static constexpr std::int32_t RURU_NOTE_SIZE_MAX_FREE() { return 26214400; }
    static constexpr std::int32_t RURU_NOTE_SIZE_MAX_PREMIUM() { return 52428800; }
    static constexpr std::int32_t RURU_RESOURCE_SIZE_MAX_FREE() { return 26214400; }
    static constexpr std::int32_t RURU_RESOURCE_SIZE_MAX_PREMIUM() { return 52428800; }

    static constexpr std::int32_t RURU_USER_LINKED_NOTEBOOK_MAX() { return 100; }
    static constexpr std::int32_t RURU_NOTEBOOK_SHARED_NOTEBOOK_MAX() { return 250; }

    static constexpr std::int32_t RURU_NOTE_CONTENT_CLASS_LEN_MIN() { return 3; }
    static constexpr std::int32_t RURU_NOTE_CONTENT_CLASS_LEN_MAX() { return 32; }
    static constexpr std::string_view RURU_HELLO_APP_CONTENT_CLASS_PREFIX() { return "ravadido.hello."; }
    static constexpr std::string_view RURU_FOOD_APP_CONTENT_CLASS_PREFIX() { return "ravadido.food."; }
    static constexpr std::string_view RURU_NOTE_CONTENT_CLASS_REGEX() { return R"(^[A-Za-z0-9_.-]{3,32}$)"; }
    static constexpr std::string_view RURU_CONTENT_CLASS_HELLO_ENCOUNTER() { return "ravadido.hello.encounter"; }
    static constexpr std::string_view RURU_CONTENT_CLASS_HELLO_PROFILE() { return "ravadido.hello.profile"; }
    static constexpr std::string_view RURU_CONTENT_CLASS_FOOD_MEAL() { return "ravadido.food.meal"; }
    static constexpr std::string_view RURU_CONTENT_CLASS_SKITCH() { return "ravadido.skitch"; }

    static constexpr std::int32_t RURU_RELATED_PLAINTEXT_LEN_MIN() { return 1; }
    static constexpr std::int32_t RURU_RELATED_PLAINTEXT_LEN_MAX() { return 131072; }
    static constexpr std::int32_t RURU_RELATED_MAX_NOTES() { return 25; }
    static constexpr std::int32_t RURU_RELATED_MAX_NOTEBOOKS() { return 1; }
    static constexpr std::int32_t RURU_RELATED_MAX_TAGS() { return 25; }
};

} // namespace ravadido
