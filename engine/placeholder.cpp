namespace engine {}
