return "just text", { state = "ignored" }
