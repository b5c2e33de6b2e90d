// The String value type (placeholder module until the type is built).
