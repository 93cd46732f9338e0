401 Unauthorized
