return { state = string.rep("s", 20000), details = string.rep("\0\"\\\n", 3000), largeImageKey = 1e308, smallImageKey = -0.0, partyId = math.mininteger }
